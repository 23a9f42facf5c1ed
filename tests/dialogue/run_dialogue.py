#!/usr/bin/env python3
"""Runs one dialogue case: a program with scripted standard input and the
case's arguments against the simulated board, compared byte for byte on
standard output and standard error, call for call on the library trace, and on
its exit status.

  run_dialogue.py --cases FILE --list
  run_dialogue.py --cases FILE --case NAME --program PATH [--project-version V] [--crlf] [--emulator CMD...]
"""
import argparse
import difflib
import os
import re
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


def run_case(case, command, crlf, project_version):
    with tempfile.TemporaryDirectory() as work:
        trace_path = os.path.join(work, "trace.txt")
        # Each case has a board of its own unless it names the state file itself.
        env = board_environment(MARLEK_SIM_TRACE=trace_path, **case.env)
        stdout = open(case.stdout_to, "wb") if case.stdout_to else subprocess.PIPE
        try:
            result = subprocess.run(command + case.args, input=case.stdin.encode("latin-1"), stdout=stdout,
                                    stderr=subprocess.PIPE, env=env, timeout=TIMEOUT_SECONDS)
        except subprocess.TimeoutExpired:
            print(f"the program did not end within {TIMEOUT_SECONDS} s")
            return False
        finally:
            if case.stdout_to:
                stdout.close()
        trace = ""
        if os.path.exists(trace_path):
            with open(trace_path, "rb") as file:
                trace = file.read().decode("latin-1")

    def expected(text):
        text = text.replace("@PROJECT_VERSION@", project_version)
        return text.replace("\n", "\r\n") if crlf else text

    actual_stdout = (result.stdout or b"").decode("latin-1")
    passed = True
    if isinstance(case.stdout, re.Pattern):
        if not case.stdout.fullmatch(actual_stdout.replace("\r\n", "\n") if crlf else actual_stdout):
            print(f"--- standard output does not match {case.stdout.pattern!r}:")
            print(actual_stdout)
            passed = False
    elif actual_stdout != expected(case.stdout):
        show_difference("standard output", expected(case.stdout), actual_stdout)
        passed = False
    if case.trace is not None:
        expected_trace = "".join(line + "\n" for line in case.trace)
        if trace != expected_trace:
            show_difference("library calls", expected_trace, trace)
            passed = False
    if result.returncode != case.status:
        print(f"--- exit status {result.returncode}, expected {case.status}")
        passed = False
    actual_stderr = result.stderr.decode("latin-1")
    if actual_stderr != expected(case.stderr):
        show_difference("standard error", expected(case.stderr), actual_stderr)
        passed = False
    return passed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cases", required=True)
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--case")
    parser.add_argument("--program")
    parser.add_argument("--project-version", default="", help="the build's version, for @PROJECT_VERSION@")
    parser.add_argument("--crlf", action="store_true",
                        help="the program writes standard output and error in text mode, each \\n as \\r\\n")
    parser.add_argument("--emulator", nargs=argparse.REMAINDER, default=[])
    args = parser.parse_args()

    cases = load_cases(args.cases)
    if args.list:
        print("\n".join(cases))
        return 0
    if args.case not in cases or not args.program:
        parser.error("--case NAME and --program PATH are needed")
    return 0 if run_case(cases[args.case], args.emulator + [args.program], args.crlf, args.project_version) else 1


if __name__ == "__main__":
    sys.exit(main())
