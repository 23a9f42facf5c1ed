#!/usr/bin/env python3
"""Checks that a program is bound to the board library at load time: a copy of
it in a folder without the library must not start at all (no output, a failed
exit status), rather than start and fail later. With --library-dir, the
program runs with that folder first on the loader's path, where a library
lacks a function the program needs: it must not start either, and the loader's
message must name the function (--missing) before any prompt.

  check_needs_library.py --program PATH [--library-dir DIR --missing NAME]
                         [--input TEXT] [--emulator CMD...]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--library-dir")
    parser.add_argument("--missing", default="")
    parser.add_argument("--input", default="q|", help="the answers, | for each line end")
    parser.add_argument("--emulator", nargs=argparse.REMAINDER, default=[])
    args = parser.parse_args()
    env = {key: value for key, value in os.environ.items()
           if key not in ("LD_LIBRARY_PATH", "LD_PRELOAD", "WINEPATH")}
    answers = args.input.replace("|", "\n").encode()
    with tempfile.TemporaryDirectory() as alone:
        program = shutil.copy(args.program, alone)
        if args.library_dir:
            program = args.program
            env["LD_LIBRARY_PATH"] = args.library_dir
        result = subprocess.run(args.emulator + [program], input=answers, capture_output=True, env=env,
                                cwd=alone, timeout=120)
    if result.returncode == 0 or result.stdout:
        print(f"the program started without the board library it needs: status {result.returncode}, "
              f"output {result.stdout[:200]!r}")
        return 1
    if args.missing.encode() not in result.stderr:
        print(f"the loader's message does not name {args.missing}: {result.stderr[:300]!r}")
        return 1
    print(f"refused to start as expected: status {result.returncode}; "
          f"{result.stderr.decode('latin-1', 'replace').strip()[:300]}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
