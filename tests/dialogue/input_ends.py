#!/usr/bin/env python3
"""Checks that a program ends, in a defined way and within a time bound, at each
of its prompts when the input ends there, and when 10,000 lines of junk
follow instead.

  input_ends.py --name PROGRAM --program PATH [--emulator CMD...]

Each prompt is reached by the typed answers in PROMPTS, with failures injected
where the prompt is the wait after a failed call. The program must end with the
status expected, having read its input to the end, with nothing on standard
error, and for pinio and pindrive with the closing line of the digital I/O
(end of input counts as q).
"""
import argparse
import random
import subprocess
import sys
import tempfile
import time

from dialogue_case import DIO_COMPLETED, PRESS_ENTER, board_environment, failing

SECONDS_ALLOWED = 30
JUNK_LINES = 10_000
FREE_FAILED_END = "\n" + PRESS_ENTER


# For each program: the name of a prompt, the answers that reach it, the
# failures injected on the way.
PROMPTS = {
    "pinio": [
        ("menu", "", {}),
        ("read_bit_pin", "2\n", {}),
        ("wait_after_read_byte", "1\n", failing("Marlek_DIOInputByte")),
        ("wait_after_read_bit", "2\n3\n", failing("Marlek_DIOInputBit")),
        ("wait_after_write_byte_config", "3\n", failing("Marlek_DIOSetConfig")),
        ("write_byte_value", "3\n", {}),
        ("wait_after_write_byte", "3\n5\n", failing("Marlek_DIOOutputByte")),
        ("write_bit_pin", "4\n", {}),
        ("wait_after_write_bit_config", "4\n1\n", failing("Marlek_DIOSetConfig")),
        ("write_bit_value", "4\n1\n", {}),
        ("wait_after_write_bit", "4\n1\n1\n", failing("Marlek_DIOOutputBit")),
        ("wait_after_free", "q\n", failing("Marlek_DIOFree")),
    ],
    "pindrive": [
        ("menu", "", {}),
        ("push_pull_pin", "3\n", {}),
        ("open_drain_pin", "4\n", {}),
        ("wait_after_all_pins", "1\n", failing("Marlek_DIOSetConfig")),
        ("wait_after_one_pin", "3\n2\n", failing("Marlek_DIOSetConfig")),
        ("wait_after_free", "q\n", failing("Marlek_DIOFree")),
    ],
    "uartmode": [
        ("port", "", {}),
        ("menu", "1\n", {}),
        ("mode", "1\n1\n", {}),
        ("mode_after_wrong_mode", "1\n2\n7\n", {}),
        ("wait_after_config", "1\n1\n0\n", failing("MarlekSerialConfig")),
    ],
    "userled": [
        ("port", "", {}),
        ("menu", "1\n", {}),
        ("led", "1\n1\n", {}),
        ("wait_after_config", "1\n1\n0\n", failing("MarlekLedConfig")),
    ],
}


def junk_lines(seed):
    """Lines on which no menu loop ends: numbers of every size, words, blank and
    long lines, control characters and bytes above 127. A wait takes one
    character and a line longer than 19 is read in parts, so a q or 113 anywhere
    in a line could quit: they are left out."""
    rng = random.Random(seed)
    pieces = ["", " ", "\t", "-", "+", "x", "Q", "\x1b[A", "\x00", "\xff\xfe", "%s%n", "0x1F"]
    lines = []
    for _ in range(JUNK_LINES):
        kind = rng.randrange(4)
        if kind == 0:
            line = str(rng.choice([rng.randrange(-5, 10), rng.randrange(-2**40, 2**40)]))
        elif kind == 1:
            line = "".join(rng.choice(pieces) for _ in range(rng.randrange(6)))
        elif kind == 2:
            line = "".join(chr(rng.randrange(1, 256)) for _ in range(rng.randrange(60)))
        else:
            line = rng.choice(["1", "2", "3", "4", "0", "7", "255", "-1", ""]) + rng.choice(["", " ", "abc"])
        lines.append(line.replace("\n", " ").replace("q", "Q").replace("113", "1x3") + "\n")
    return "".join(lines)


def check(name, command, stdin, env, expect_dio_end, frees_fail):
    with tempfile.TemporaryFile() as typed:
        typed.write(stdin.encode("latin-1"))
        typed.seek(0)
        started = time.monotonic()
        try:
            result = subprocess.run(command, stdin=typed, capture_output=True, env=board_environment(**env),
                                    timeout=SECONDS_ALLOWED)
        except subprocess.TimeoutExpired:
            return [f"{name}: did not end within {SECONDS_ALLOWED} s"]
        seconds = time.monotonic() - started
        # The program shares the file's offset: it must have read to the end.
        unread = len(stdin) - typed.tell()
    problems = []
    status = 1 if frees_fail else 0
    if result.returncode != status:
        problems.append(f"{name}: exit status {result.returncode}, expected {status}")
    if unread and not frees_fail:  # after a failed close the program takes one key and ends
        problems.append(f"{name}: ended with {unread} bytes of input unread")
    if result.stderr:
        problems.append(f"{name}: standard error: {result.stderr[:500]!r}")
    if expect_dio_end:
        ending = FREE_FAILED_END if frees_fail else DIO_COMPLETED
        if not result.stdout.decode("latin-1").endswith(ending):
            problems.append(f"{name}: output does not end with {ending!r}: ...{result.stdout[-200:]!r}")
    print(f"{name}: ended in {seconds:.2f} s")
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--name", required=True, choices=sorted(PROMPTS))
    parser.add_argument("--program", required=True)
    parser.add_argument("--emulator", nargs=argparse.REMAINDER, default=[])
    args = parser.parse_args()
    command = args.emulator + [args.program]
    expect_dio_end = args.name in ("pinio", "pindrive")
    problems = []
    for seed, (prompt, answers, env) in enumerate(PROMPTS[args.name]):
        frees_fail = "Marlek_DIOFree" in env.get("MARLEK_SIM_FAIL", "")
        problems += check(f"{prompt}, end of input", command, answers, env, expect_dio_end, frees_fail)
        problems += check(f"{prompt}, {JUNK_LINES} junk lines", command, answers + junk_lines(seed), env,
                          expect_dio_end, frees_fail)
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
