#!/usr/bin/env python3
"""Reads a spectrum file the host wrote, by its extension, with no code of the
host's, and prints what it holds one item a line: channels, counts, live,
true, start, rois ('none' where the format has no such item). N42 files must
also be namespaced and ordered as the expected element lists below say."""
import csv
import json
import re
import sys
import xml.etree.ElementTree as ET

N42 = "{http://physics.nist.gov/N42/2011/N42}"
ORDER = {
    "RadInstrumentData": ["RadInstrumentDataCreatorName", "RadInstrumentInformation",
                          "RadDetectorInformation", "RadMeasurement"],
    "RadMeasurement": ["MeasurementClassCode", "StartDateTime", "RealTimeDuration", "Spectrum"],
    "Spectrum": ["Remark", "LiveTimeDuration", "ChannelData"],
}


def read_csv(path):
    with open(path, newline="") as f:
        rows = list(csv.reader(f))
    if rows[0] != ["channel", "counts"]:
        sys.exit("error: header " + repr(rows[0]))
    if [int(r[0]) for r in rows[1:]] != list(range(len(rows) - 1)):
        sys.exit("error: channel numbers out of order")
    return {"counts": [int(r[1]) for r in rows[1:]]}


def read_json(path):
    with open(path) as f:
        data = json.load(f)
    rois = ["%d-%d" % (r["first"], r["last"]) for r in data["rois"]]
    return {"counts": data["counts"], "live": data["live_time"], "true": data["true_time"],
            "start": data["start_time"], "rois": rois}


def read_spe(path):
    sections, name = {}, None
    for line in open(path).read().splitlines():
        if line.startswith("$"):
            name = line.rstrip(":")
            sections[name] = []
        elif name:
            sections[name].append(line.strip())
    first, last = map(int, sections["$DATA"][0].split())
    counts = [int(v) for v in sections["$DATA"][1:]]
    if first != 0 or last != len(counts) - 1:
        sys.exit("error: channel range %d %d for %d counts" % (first, last, len(counts)))
    item = {"counts": counts}
    if "$MEAS_TIM" in sections:
        item["live"], item["true"] = map(float, sections["$MEAS_TIM"][0].split())
    if "$DATE_MEA" in sections:
        m = re.fullmatch(r"(\d\d)/(\d\d)/(\d{4}) (\d\d:\d\d:\d\d)", sections["$DATE_MEA"][0])
        item["start"] = "%s-%s-%sT%s" % (m.group(3), m.group(1), m.group(2), m.group(4))
    roi_lines = sections["$ROI"][1:1 + int(sections["$ROI"][0])]
    item["rois"] = ["%s-%s" % tuple(line.split()) for line in roi_lines]
    return item


def seconds(duration):
    return float(re.fullmatch(r"PT([0-9.]+)S", duration).group(1))


def check_order(element):
    local = element.tag[len(N42):]
    if not element.tag.startswith(N42):
        sys.exit("error: %s outside the N42 namespace" % element.tag)
    if local in ORDER:
        names = [child.tag[len(N42):] for child in element]
        expected = [name for name in ORDER[local] if name in names]
        if names != expected:
            sys.exit("error: %s holds %s" % (local, names))
    for child in element:
        check_order(child)


def read_n42(path):
    root = ET.parse(path).getroot()
    if root.tag != N42 + "RadInstrumentData":
        sys.exit("error: root " + root.tag)
    check_order(root)
    measurement = root.find(N42 + "RadMeasurement")
    spectrum = measurement.find(N42 + "Spectrum")
    item = {"counts": [int(v) for v in spectrum.find(N42 + "ChannelData").text.split()]}
    for key, parent, tag in (("live", spectrum, "LiveTimeDuration"), ("true", measurement, "RealTimeDuration")):
        if parent.find(N42 + tag) is not None:
            item[key] = seconds(parent.find(N42 + tag).text)
    if measurement.find(N42 + "StartDateTime") is not None:
        item["start"] = measurement.find(N42 + "StartDateTime").text
    remark = spectrum.find(N42 + "Remark")
    item["rois"] = remark.text.split(":")[1].split() if remark is not None else []
    return item


def main():
    path = sys.argv[1]
    reader = {"csv": read_csv, "json": read_json, "spe": read_spe, "n42": read_n42}[path.rsplit(".", 1)[1]]
    item = reader(path)
    print("channels", len(item["counts"]))
    print("counts", " ".join(map(str, item["counts"])))
    for key in ("live", "true"):
        print(key, "none" if item.get(key) is None else "%.2f" % item[key])
    print("start", item.get("start") or "none")
    print("rois", " ".join(item["rois"]) if item.get("rois") else "none")


main()
