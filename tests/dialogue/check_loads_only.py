#!/usr/bin/env python3
"""Checks which libraries a program loads, as objdump reads them from the file.

  check_loads_only.py --objdump PATH --program PATH [--libraries NAME...] [--or-system] [--exports NAME...]

An ELF program must need exactly the given libraries, and its own code must
import no function that allocates from the heap. A Windows program must import
every given DLL and, with --or-system, may import the system's own DLLs beside
them, nothing else (no C++ runtime, no thread library). With --exports, an ELF
library must export exactly the given functions: its dynamic symbol table
defines nothing else, of any binding (global, weak or unique) or kind. Without
--libraries, what it needs is not checked.
"""
import argparse
import re
import subprocess
import sys

# DLLs that come with Windows: the kernel, the C runtimes, their API sets.
SYSTEM_DLLS = re.compile(r"(kernel32|kernelbase|ntdll|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+)\.dll", re.IGNORECASE)
ALLOCATORS = {"malloc", "calloc", "realloc", "reallocarray", "aligned_alloc", "posix_memalign", "memalign",
              "valloc", "pvalloc", "strdup", "strndup", "asprintf", "vasprintf", "getline", "getdelim",
              "open_memstream", "_Znwm", "_Znam", "_ZnwmRKSt9nothrow_t", "_ZnamRKSt9nothrow_t"}


def objdump(tool, program, option):
    return subprocess.run([tool, option, program], capture_output=True, text=True, check=True).stdout


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--program", required=True)
    parser.add_argument("--libraries", nargs="+")
    parser.add_argument("--or-system", action="store_true")
    parser.add_argument("--exports", nargs="+")
    args = parser.parse_args()
    headers = objdump(args.objdump, args.program, "-p")
    faults = []
    needed = re.findall(r"^\s*NEEDED\s+(\S+)", headers, re.MULTILINE)
    if needed:
        if args.libraries is not None and sorted(needed) != sorted(args.libraries):
            faults.append(f"needs {', '.join(needed)}; expected {', '.join(args.libraries)} alone")
        imported = re.findall(r"\*UND\*\s+\S+\s+(?:\S+\s+)?(\S+)$", objdump(args.objdump, args.program, "-T"),
                              re.MULTILINE)
        allocating = sorted(ALLOCATORS.intersection(imported))
        # Each line: value, seven flag characters (the first the binding:
        # l for a local symbol, such as the section symbols that arm64's
        # linker puts in the table), section, size, version, name.
        exported = sorted(name for flags, section, name in
                          re.findall(r"^[0-9a-f]+ (.{7}) (\S+)\s+[0-9a-f]+\s+(?:\S+\s+)?(\S+)$",
                                     objdump(args.objdump, args.program, "-T"), re.MULTILINE)
                          if section != "*UND*" and flags[0] != "l")
        if args.exports is not None and exported != sorted(args.exports):
            faults.append(f"exports {', '.join(exported)}; expected {', '.join(sorted(args.exports))} alone")
        if allocating and args.exports is None:
            faults.append(f"imports {', '.join(allocating)}: the programs allocate nothing on the heap")
    else:
        dlls = re.findall(r"^\s*DLL Name:\s*(\S+)", headers, re.MULTILINE)
        if not dlls:
            faults.append("objdump shows neither NEEDED entries nor imported DLLs")
        wanted = {name.lower() for name in args.libraries}
        missing = wanted - {name.lower() for name in dlls}
        others = [name for name in dlls
                  if name.lower() not in wanted and not (args.or_system and SYSTEM_DLLS.fullmatch(name))]
        if missing:
            faults.append(f"does not import {', '.join(sorted(missing))}")
        if others:
            faults.append(f"imports {', '.join(others)}, which Windows does not ship")
        needed = dlls
    if faults:
        print(f"{args.program}: " + "; ".join(faults))
        return 1
    print(f"loads {', '.join(needed)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
