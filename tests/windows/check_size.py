#!/usr/bin/env python3
"""Checks that a program, stripped, is at most FACTOR times the size of the
plain-C build of its dialogue (bench/baseline/), stripped the same way.

  check_size.py --strip PATH --program PATH --baseline PATH [--factor 1.3]
"""
import argparse
import os
import subprocess
import sys
import tempfile


def stripped_size(strip, path, work):
    target = os.path.join(work, os.path.basename(path))
    subprocess.run([strip, "-o", target, path], check=True)
    return os.path.getsize(target)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--strip", required=True)
    parser.add_argument("--program", required=True)
    parser.add_argument("--baseline", required=True)
    parser.add_argument("--factor", type=float, default=1.3)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as work:
        ours, baseline = (stripped_size(args.strip, path, work) for path in (args.program, args.baseline))
    ratio = ours / baseline
    print(f"stripped: {ours} bytes, plain C {baseline} bytes, ratio {ratio:.2f} (at most {args.factor})")
    return 0 if ratio <= args.factor else 1


if __name__ == "__main__":
    sys.exit(main())
