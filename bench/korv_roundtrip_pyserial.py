#!/usr/bin/env python3
"""The KORV status exchange ("67\\r", reply up to its line feed) done with pyserial,
for linkbay_korv_roundtrip_bench.

Usage: korv_roundtrip_pyserial.py DEVICE

Prints "ready" once imported, then serves one line per round on stdin: a count N.
For each it opens DEVICE, times N exchanges, closes the port again and prints
"ok WALL_NS CPU_NS" (the CPU time is this thread's) or "err WHY". Opening and
closing stay outside the timed part.
"""
import sys
import time

import serial

REQUEST = b"67\r"
REPLY_START = b"67 "


def timed_round(device, count):
    with serial.Serial(device, 9600, timeout=1.0) as port:
        port.reset_input_buffer()
        begin = time.perf_counter_ns()
        begin_cpu = time.thread_time_ns()
        for _ in range(count):
            port.write(REQUEST)
            reply = port.read_until(b"\n")
            if not reply.startswith(REPLY_START) or not reply.endswith(b"\r\n"):
                return "err unexpected reply %r" % reply
        return "ok %d %d" % (time.perf_counter_ns() - begin, time.thread_time_ns() - begin_cpu)


def main():
    if len(sys.argv) != 2:
        print("usage: korv_roundtrip_pyserial.py DEVICE", file=sys.stderr)
        return 2
    print("ready", flush=True)
    for line in sys.stdin:
        try:
            count = int(line)
            result = timed_round(sys.argv[1], count) if count > 0 else "err bad count %r" % line
        except (ValueError, serial.SerialException, OSError) as error:
            result = "err %s" % error
        print(result, flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
