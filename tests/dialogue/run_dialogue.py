#!/usr/bin/env python3
"""Runs one dialogue case: a program with scripted standard input against the
simulated board, compared byte for byte on standard output, call for call on
the library trace, and on its exit status.

  run_dialogue.py --cases FILE --list
  run_dialogue.py --cases FILE --case NAME --program PATH [--crlf] [--emulator CMD...]
"""
import argparse
import difflib
import os
import runpy
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from dialogue_case import board_environment  # noqa: E402

TIMEOUT_SECONDS = 60


def load_cases(path):
    cases = runpy.run_path(path)["CASES"]
    names = [case.name for case in cases]
    duplicates = {name for name in names if names.count(name) > 1}
    if duplicates:
        raise SystemExit(f"{path}: duplicate case names {sorted(duplicates)}")
    return {case.name: case for case in cases}


def show_difference(what, expected, actual):
    print(f"--- {what} differs")
    expected_lines = [repr(line) for line in expected.splitlines(keepends=True)]
    actual_lines = [repr(line) for line in actual.splitlines(keepends=True)]
    for line in difflib.unified_diff(expected_lines, actual_lines, "expected", "actual", lineterm=""):
        print(line)


def run_case(case, command, crlf):
    with tempfile.TemporaryDirectory() as work:
        trace_path = os.path.join(work, "trace.txt")
        # Each case has a board of its own unless it names the state file itself.
        env = board_environment(MARLEK_SIM_TRACE=trace_path, **case.env)
        try:
            result = subprocess.run(command, input=case.stdin.encode("latin-1"), capture_output=True, env=env,
                                    timeout=TIMEOUT_SECONDS)
        except subprocess.TimeoutExpired:
            print(f"the program did not end within {TIMEOUT_SECONDS} s")
            return False
        trace = ""
        if os.path.exists(trace_path):
            with open(trace_path, "rb") as file:
                trace = file.read().decode("latin-1")

    expected_stdout = case.stdout.replace("\n", "\r\n") if crlf else case.stdout
    actual_stdout = result.stdout.decode("latin-1")
    passed = True
    if actual_stdout != expected_stdout:
        show_difference("standard output", expected_stdout, actual_stdout)
        passed = False
    if case.trace is not None:
        expected_trace = "".join(line + "\n" for line in case.trace)
        if trace != expected_trace:
            show_difference("library calls", expected_trace, trace)
            passed = False
    if result.returncode != case.status:
        print(f"--- exit status {result.returncode}, expected {case.status}")
        passed = False
    if result.stderr:
        print("--- standard error is not empty:")
        print(result.stderr.decode("latin-1"))
        passed = False
    return passed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cases", required=True)
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--case")
    parser.add_argument("--program")
    parser.add_argument("--crlf", action="store_true",
                        help="the program writes standard output in text mode, each \\n as \\r\\n")
    parser.add_argument("--emulator", nargs=argparse.REMAINDER, default=[])
    args = parser.parse_args()

    cases = load_cases(args.cases)
    if args.list:
        print("\n".join(cases))
        return 0
    if args.case not in cases or not args.program:
        parser.error("--case NAME and --program PATH are needed")
    return 0 if run_case(cases[args.case], args.emulator + [args.program], args.crlf) else 1


if __name__ == "__main__":
    sys.exit(main())
