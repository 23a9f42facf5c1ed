#!/usr/bin/env python3
"""Runs the programs against the fuzzing board library (fuzz/marlek_fuzz.cpp)
with control blocks whose answers no well-behaved board gives: input levels
beyond 1, error texts that are NULL, empty, 4096 characters long, printf
directives, control characters or bytes above 127, an error record left
unfilled. Each case checks the lines the program prints, its status and an
empty standard error; together they also check that the library follows the
layout of its control block, on which fuzzing relies.

  scripted_answers.py --library-dir DIR --program NAME=PATH... [--emulator CMD...]
"""
import argparse
import os
import subprocess
import sys

PLAIN = "board reports a failure"
DIRECTIVES = "%s%s%n%p%x%%"
LONG = "x" * 4096
CONTROL = "line\nbreak\r\ttab\b\a\x1b[2J\x7f"
HIGH = "\xff\xfe\x80\xc3\x28 high bytes"
# The text choices of the control block.
NULL_TEXT, EMPTY, DIRECTIVES_TEXT, LONG_TEXT, CONTROL_TEXT, HIGH_TEXT = 1, 2, 3, 4, 5, 6
FILLS_NOTHING, FILLS_AND_FAILS = 1, 2

# name, program, control block, typed, lines expected in the output, status
CASES = [
    ("read_byte_value", "pinio", [0, 0, 0xA5], "1\nq\n", ["DATA:\t1\t0\t1\t0\t0\t1\t0\t1\n"], 0),
    ("read_bit_level_beyond_1", "pinio", [0, 0, 0xFF], "2\n6\nq\n", ["\nDATA: GPIO6 - 255\n"], 0),
    ("printf_directives", "pinio", [0, 9, 4, DIRECTIVES_TEXT, 0, DIRECTIVES_TEXT], "1\n\nq\n",
     [f"Marlek_DIOInputByte error: {DIRECTIVES} {DIRECTIVES}\n"], 0),
    ("null_detail", "pinio", [0, 5, 5, NULL_TEXT], "1\n\nq\n", [f"Marlek_DIOInputByte error: {PLAIN} \n"], 0),
    ("nothing_filled_no_text", "pinio", [0, 5, 5, 0, FILLS_NOTHING, NULL_TEXT], "1\n\nq\n",
     ["Marlek_DIOInputByte error:  \n"], 0),
    ("init_failed", "pinio", [7, 7], "",
     [f"Marlek_DIOInit: {PLAIN} {PLAIN}\n", "\nMarlek DIO Test V1.0 completed : FAILED\n"], 1),
    ("free_failed_empty_texts", "pindrive", [0, 4, 4, EMPTY, 0, EMPTY], "q\n",
     ["Marlek_DIOFree error :  \n", "\nPress enter to quit\n"], 1),
    ("long_texts", "uartmode", [5, 5, LONG_TEXT, 0, LONG_TEXT], "1\n1\n0\n\nq\n",
     [f"MarlekSerialConfig error: {LONG} {LONG}\n", "\nPORTS 1 & 2 are not changed to 0 Mode\n"], 0),
    ("control_characters_and_high_bytes", "userled", [3, 3, CONTROL_TEXT, FILLS_AND_FAILS, HIGH_TEXT],
     "1\n1\n0\n\nq\n", [f"MarlekLedConfig error: {HIGH} {CONTROL}\n"], 0),
]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--library-dir", required=True)
    parser.add_argument("--program", action="append", required=True, metavar="NAME=PATH")
    parser.add_argument("--emulator", nargs=argparse.REMAINDER, default=[])
    args = parser.parse_args()
    programs = dict(entry.split("=", 1) for entry in args.program)
    env = {key: value for key, value in os.environ.items() if not key.startswith("MARLEK_")}
    env["LD_LIBRARY_PATH"] = args.library_dir
    failures = 0
    for name, program, block, typed, lines, status in CASES:
        data = bytes([len(block)] + block) + typed.encode("latin-1")
        result = subprocess.run([*args.emulator, programs[program]], input=data, capture_output=True, env=env, timeout=60)
        output = result.stdout.decode("latin-1")
        problems = [f"missing {line!r}" for line in lines if line not in output]
        if result.returncode != status:
            problems.append(f"exit status {result.returncode}, expected {status}")
        if result.stderr:
            problems.append(f"standard error: {result.stderr.decode('latin-1')[:2000]}")
        print(f"{name}: {'passed' if not problems else 'FAILED'}")
        for problem in problems:
            print("  " + problem[:300])
        failures += bool(problems)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
