#!/usr/bin/env python3
"""Renders each manual page with groff and all its warnings on: any warning
fails, and so does a page without the sections every page has.

  check_manpages.py PAGE...
"""
import re
import subprocess
import sys

SECTIONS = ["NAME", "SYNOPSIS", "DESCRIPTION", "EXIT STATUS", "ENVIRONMENT", "FILES", "SEE ALSO"]
FILE_FORMAT_SECTIONS = ["NAME", "DESCRIPTION", "FILES", "EXAMPLES", "SEE ALSO"]  # section 5


def main():
    failures = 0
    for page in sys.argv[1:]:
        try:
            result = subprocess.run(["groff", "-man", "-ww", "-z", page], capture_output=True, text=True)
        except FileNotFoundError:
            print("groff is not installed; scripts/setup-debian installs it")
            return 1
        with open(page) as file:
            sections = re.findall(r'^\.SH "?([^"\n]+)"?$', file.read(), re.MULTILINE)
        wanted = FILE_FORMAT_SECTIONS if page.endswith(".5") else SECTIONS
        missing = [name for name in wanted if name not in sections]
        if result.returncode != 0 or result.stderr or missing:
            print(f"{page}: status {result.returncode}; {result.stderr.strip()}; sections missing: {missing}")
            failures += 1
    print(f"{len(sys.argv) - 1 - failures} passed, {failures} failed")
    return 1 if failures or len(sys.argv) < 2 else 0


if __name__ == "__main__":
    sys.exit(main())
