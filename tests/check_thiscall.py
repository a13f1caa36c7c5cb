#!/usr/bin/env python3
"""check_thiscall.py DLL HEADER: the 32-bit add-in's operations keep the
calling convention of the public prototypes, read from its disassembly (no
32-bit Windows runs here to call them).

For every class in the DLL derived from AddinBase, each of the operations in
its table of virtual functions must take the object in ECX (the first
instruction naming ECX reads it, or none names it) and return with `ret $N`,
N = 4 x the argument slots of the prototype in HEADER past the object, on
every return reached, also through jumps into other code (tail calls, cold
parts). Uses the mingw objdump (OBJDUMP, default i686-w64-mingw32-objdump).
"""
import os
import re
import subprocess
import sys

OBJDUMP = os.environ.get("OBJDUMP", "i686-w64-mingw32-objdump")
BASE_TYPEINFO = "__ZTI9AddinBase"
SINGLE_BASE_TYPEINFO_VTABLE = "__ZTVN10__cxxabiv120__si_class_type_infoE"
EIGHT_BYTE_TYPES = ("int64_t", "uint64_t", "long long", "double")
# Instructions that only write their last operand: naming ECX there first
# means the function does not take anything in it.
WRITE_ONLY = re.compile(r"^(mov[a-z]*|lea|pop|set[a-z]+)$")


def objdump(*args):
    return subprocess.run([OBJDUMP, *args], check=True, capture_output=True, text=True).stdout


def operations(header_text):
    """[(number, name, stack bytes)] in table order, from the enum and the slot typedefs."""
    enum = re.search(r"enum LinkbayOperation \{(.*?)\};", header_text, re.S)
    if enum is None:
        sys.exit("the header has no enum LinkbayOperation")
    names = re.findall(r"LINKBAY_OP_(\w+)(?: = 1)?,", enum[1])
    prototypes = {name: params for name, params in re.findall(
        r"typedef [\w\s\*]+\(LINKBAY_THISCALL\* Linkbay(\w+)Fn\)\(([^)]*)\);", header_text)}
    aliases = dict(re.findall(r"typedef Linkbay(\w+)Fn Linkbay(\w+)Fn;", header_text))
    aliases = {alias: original for original, alias in aliases.items()}
    result = []
    for number, enum_name in enumerate(names, 1):
        name = "".join(word.capitalize() for word in enum_name.split("_"))
        params = prototypes.get(aliases.get(name, name))
        if params is None:
            sys.exit(f"{enum_name}: no prototype Linkbay{name}Fn in the header")
        stack = [p for p in params.split(",")[1:]]  # past LinkbaySelf* self
        slots = sum(2 if any(t in p for t in EIGHT_BYTE_TYPES) else 1 for p in stack)
        result.append((number, name, 4 * slots))
    return result


def symbols(dll):
    """name -> address, from the COFF symbol table and the section addresses."""
    sections = {}
    for line in objdump("-h", dll).splitlines():
        fields = line.split()
        if len(fields) >= 4 and fields[0].isdigit():
            sections[int(fields[0]) + 1] = int(fields[3], 16)
    table = {}
    for match in re.finditer(r"\(sec\s+(\d+)\).*\) 0x([0-9a-f]+) (\S+)$", objdump("-t", dll), re.M):
        section, offset, name = int(match[1]), int(match[2], 16), match[3]
        if section in sections:
            table[name] = sections[section] + offset
    return table


def memory(dll):
    """address -> byte, for the initialised data."""
    data = {}
    for line in objdump("-s", "-j", ".rdata", "-j", ".data", dll).splitlines():
        match = re.match(r"^ ([0-9a-f]{8}) ((?:[0-9a-f]{2,8} ?){1,4})", line)
        if match:
            raw = bytes.fromhex(match[2].replace(" ", ""))
            start = int(match[1], 16)
            data.update((start + i, b) for i, b in enumerate(raw))
    return data


def word(data, address):
    try:
        return int.from_bytes(bytes(data[address + i] for i in range(4)), "little")
    except KeyError:
        sys.exit(f"no initialised data at 0x{address:x}")


def derived_vtables(table, data):
    """{class name: vtable address} of the classes derived from AddinBase."""
    by_address = {address: name for name, address in table.items() if name.startswith("__ZTI")}
    single_base = table.get(SINGLE_BASE_TYPEINFO_VTABLE, -1) + 8
    found = {}
    for name, vtable in table.items():
        if not name.startswith("__ZTV"):
            continue
        typeinfo = word(data, vtable + 4)
        while by_address.get(typeinfo) != BASE_TYPEINFO and typeinfo in data and word(data, typeinfo) == single_base:
            typeinfo = word(data, typeinfo + 8)
            if by_address.get(typeinfo) == BASE_TYPEINFO:
                found[name[len("__ZTV"):]] = vtable
    return found


def functions(dll):
    """[(start, [(address, mnemonic, operands)])] in address order."""
    result = []
    for line in objdump("-d", "--no-show-raw-insn", "-j", ".text", dll).splitlines():
        if re.match(r"^[0-9a-f]+ <.*>:$", line):
            result.append((int(line.split()[0], 16), []))
        elif result and (match := re.match(r"^\s*([0-9a-f]+):\s+(\S+)\s*(.*)$", line)):
            result[-1][1].append((int(match[1], 16), match[2], match[3]))
    return result


def function_at(listing, address):
    for start, code in listing:
        if start == address:
            return code
    return None


def containing(listing, address):
    for start, code in listing:
        if code and start <= address <= code[-1][0]:
            return start, code
    return None, None


def pops(listing, start):
    """Bytes each return reached from start pops, following jumps out of the code they are in."""
    seen, todo, found = set(), [start], set()
    while todo:
        entry = todo.pop()
        if entry in seen:
            continue
        seen.add(entry)
        begin, code = containing(listing, entry)
        if code is None:
            continue
        for address, mnemonic, operands in code:
            if address < entry:
                continue
            if mnemonic in ("ret", "retl"):
                found.add(int(operands.lstrip("$"), 16) if operands.startswith("$") else 0)
            elif mnemonic.startswith("j") and (target := re.match(r"^([0-9a-f]+) <", operands)):
                jump = int(target[1], 16)
                if not (begin <= jump <= code[-1][0]):
                    todo.append(jump)
    return found


def names_ecx(operands):
    return re.search(r"%(e?cx|c[lh])\b", operands) is not None


def takes_ecx(code):
    """False when the first instruction naming ECX only writes it."""
    for _, mnemonic, operands in code:
        if not names_ecx(operands):
            continue
        parts = [p for p in re.split(r",(?![^(]*\))", operands)]
        *sources, destination = parts
        if mnemonic in ("xor", "sub") and sources == [destination]:
            return False  # zeroing
        if WRITE_ONLY.match(mnemonic) and re.fullmatch(r"%(e?cx|c[lh])", destination.strip()):
            return any(names_ecx(s) for s in sources)
        return True
    return True


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: check_thiscall.py DLL HEADER")
    dll, header = sys.argv[1:]
    with open(header, encoding="utf-8") as stream:
        ops = operations(stream.read())
    table = symbols(dll)
    if BASE_TYPEINFO not in table:
        sys.exit(f"{dll} has no symbol {BASE_TYPEINFO}: the check needs the symbol table (do not strip)")
    data = memory(dll)
    vtables = derived_vtables(table, data)
    if not vtables:
        sys.exit(f"{dll}: no class derived from AddinBase")
    listing = functions(dll)
    failures = []
    for class_name, vtable in sorted(vtables.items()):
        for number, name, stack in ops:
            address = word(data, vtable + 4 + 4 * number)
            code = function_at(listing, address)
            where = f"{class_name} operation {number} {name} (0x{address:x})"
            if code is None:
                failures.append(f"{where}: no function starts there")
                continue
            returns = pops(listing, address)
            if returns != {stack}:
                shown = ", ".join(f"ret ${n:#x}" for n in sorted(returns)) or "no return"
                failures.append(f"{where}: {shown}, the prototype wants ret ${stack:#x}")
            if not takes_ecx(code):
                failures.append(f"{where}: writes ECX before reading it, so the object is not taken in ECX")
    for failure in failures:
        print("FAIL " + failure, file=sys.stderr)
    if failures:
        return 1
    print(f"{os.path.basename(dll)}: the {len(ops)} operations of {', '.join(sorted(vtables))} "
          "take the object in ECX and pop exactly their stack arguments")
    return 0


if __name__ == "__main__":
    sys.exit(main())
