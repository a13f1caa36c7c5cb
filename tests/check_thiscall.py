#!/usr/bin/env python3
"""check_thiscall.py DLL HEADER: read from the 32-bit DLL's disassembly (no
32-bit Windows runs here), every class derived from AddinBase takes the
object in ECX in each of its 32 operations (the first instruction naming ECX
reads it, if any does) and pops exactly the stack arguments of the operation's
prototype in HEADER: `ret $N`, N = 4 x its arguments past the object, on
every return reached, also through jumps out of the function (tail calls,
cold parts). OBJDUMP names the mingw objdump."""
import bisect
import os
import re
import subprocess
import sys

OBJDUMP = os.environ.get("OBJDUMP", "i686-w64-mingw32-objdump")
ECX = r"%(?:e?cx|c[lh])"


def objdump(*args):
    return subprocess.run([OBJDUMP, *args, sys.argv[1]], check=True, capture_output=True, text=True).stdout


def operations(header):
    """[(name, stack bytes)] in table order, from the enum and the slots' function types."""
    enum = re.search(r"enum LinkbayOperation \{(.*?)\};", header, re.S)[1]
    params = dict(re.findall(r"\(LINKBAY_THISCALL\* Linkbay(\w+)Fn\)\(([^)]*)\);", header))
    params.update((alias, params[of]) for of, alias in re.findall(r"typedef Linkbay(\w+)Fn Linkbay(\w+)Fn;", header))
    names = ["".join(w.capitalize() for w in n.split("_")) for n in re.findall(r"LINKBAY_OP_(\w+)(?: = 1)?,", enum)]
    missing = [name for name in names if name not in params]
    if missing:
        sys.exit(f"{sys.argv[2]}: no function type Linkbay<name>Fn for {', '.join(missing)}")
    slots = {name: sum(2 if re.search(r"int64_t|double|long long", p) else 1 for p in params[name].split(",")[1:])
             for name in names}
    return [(name, 4 * slots[name]) for name in names]


def symbols():
    starts = {int(f[0]) + 1: int(f[3], 16) for f in map(str.split, objdump("-h").splitlines())
              if len(f) > 3 and f[0].isdigit()}
    return {m[3]: starts[int(m[1])] + int(m[2], 16)
            for m in re.finditer(r"\(sec\s+(\d+)\).*\) 0x([0-9a-f]+) (\S+)$", objdump("-t"), re.M)
            if int(m[1]) in starts}


def memory():
    data = {}
    for m in re.finditer(r"^ ([0-9a-f]{8}) ((?:[0-9a-f]{2,8} ){1,4})", objdump("-s", "-j", ".rdata"), re.M):
        data.update((int(m[1], 16) + i, b) for i, b in enumerate(bytes.fromhex(m[2].replace(" ", ""))))
    return lambda address: int.from_bytes(bytes(data.get(address + i, 0) for i in range(4)), "little")


def derived_vtables(table, word):
    """{vtable symbol: address} whose class has AddinBase among its (single) bases."""
    typeinfos = {address: name for name, address in table.items() if name.startswith("__ZTI")}
    single_base = table["__ZTVN10__cxxabiv120__si_class_type_infoE"] + 8
    found = {}
    for name, vtable in table.items():
        typeinfo = word(vtable + 4) if name.startswith("__ZTV") else 0
        while typeinfo in typeinfos and word(typeinfo) == single_base:
            typeinfo = word(typeinfo + 8)
            if typeinfos.get(typeinfo) == "__ZTI9AddinBase":
                found[name] = vtable
    return found


def functions():
    """{start: [(address, mnemonic, operands)]} of .text."""
    code, current = {}, None
    for line in objdump("-d", "--no-show-raw-insn", "-j", ".text").splitlines():
        if m := re.match(r"^([0-9a-f]+) <.*>:$", line):
            current = code.setdefault(int(m[1], 16), [])
        elif current is not None and (m := re.match(r"^\s*([0-9a-f]+):\s+(\S+)\s*(.*)$", line)):
            current.append((int(m[1], 16), m[2], m[3]))
    return code


def pops(code, starts, entry):
    """The bytes each return reached from entry pops."""
    seen, todo, found = set(), [entry], set()
    while todo:
        entry = todo.pop()
        start = starts[bisect.bisect_right(starts, entry) - 1]
        if entry in seen or not code[start]:
            continue
        seen.add(entry)
        end = code[start][-1][0]
        for address, mnemonic, operands in code[start]:
            if address >= entry and mnemonic == "ret":
                found.add(int(operands[1:], 16) if operands else 0)
            elif address >= entry and mnemonic.startswith("j") and (m := re.match(r"([0-9a-f]+) <", operands)):
                if not start <= int(m[1], 16) <= end:
                    todo.append(int(m[1], 16))
    return found


def takes_ecx(instructions):
    """False when the first instruction naming ECX only writes it."""
    for _, mnemonic, operands in instructions:
        if not re.search(ECX, operands):
            continue
        *sources, destination = re.split(r",(?![^(]*\))", operands)
        if mnemonic in ("xor", "sub") and sources == [destination]:
            return False  # zeroing
        if re.match(r"(mov|lea|pop|set)", mnemonic) and re.fullmatch(ECX, destination):
            return any(re.search(ECX, source) for source in sources)
        return True
    return True


def main():
    with open(sys.argv[2], encoding="utf-8") as stream:
        ops = operations(stream.read())
    table, word, code = symbols(), memory(), functions()
    vtables = derived_vtables(table, word) if "__ZTI9AddinBase" in table else {}
    if not vtables:
        sys.exit(f"{sys.argv[1]}: no class derived from AddinBase found (is the symbol table stripped?)")
    starts = sorted(code)
    failures = []
    for vtable_name, vtable in sorted(vtables.items()):
        for number, (name, stack) in enumerate(ops, 1):
            address = word(vtable + 4 + 4 * number)
            where = f"{vtable_name[5:]} operation {number} {name}"
            returns = pops(code, starts, address) if address in code else set()
            if returns != {stack}:
                shown = ", ".join(f"ret ${n:#x}" for n in sorted(returns)) or "no return"
                failures.append(f"{where}: {shown}; its prototype wants ret ${stack:#x}")
            if address in code and not takes_ecx(code[address]):
                failures.append(f"{where}: writes ECX before reading it, so it does not take the object there")
    print("\n".join("FAIL " + f for f in failures) or
          f"{os.path.basename(sys.argv[1])}: the {len(ops)} operations of "
          f"{', '.join(name[5:] for name in sorted(vtables))} take the object in ECX and pop exactly their stack arguments")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
