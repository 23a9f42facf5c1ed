#!/usr/bin/env python3
"""Checks that a program is bound to the board library at load time: a copy of
it in a folder without the library must not start at all (no output, a failed
exit status), rather than start and fail later.

  check_needs_library.py --program PATH [--emulator CMD...]
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
    parser.add_argument("--emulator", nargs=argparse.REMAINDER, default=[])
    args = parser.parse_args()
    env = {key: value for key, value in os.environ.items()
           if key not in ("LD_LIBRARY_PATH", "LD_PRELOAD", "WINEPATH")}
    with tempfile.TemporaryDirectory() as alone:
        copy = shutil.copy(args.program, alone)
        result = subprocess.run(args.emulator + [copy], input=b"q\n", capture_output=True, env=env,
                                cwd=alone, timeout=120)
    if result.returncode == 0 or result.stdout:
        print(f"the program started without the board library: status {result.returncode}, "
              f"output {result.stdout[:200]!r}")
        return 1
    print(f"refused to start as expected: status {result.returncode}; "
          f"{result.stderr.decode('latin-1', 'replace').strip()[:300]}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
