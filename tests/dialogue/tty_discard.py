#!/usr/bin/env python3
"""At an interactive terminal, uartmode and userled discard what the operator
typed ahead before each menu read: after a failed call the wait takes one
character, and the rest of that line and any line typed after it are dropped,
so the next menu answer is the one typed at the menu.

  tty_discard.py --program PATH --answers LINES --fail OPERATION [--emulator CMD...]
"""
import argparse
import os
import pty
import select
import subprocess
import sys
import termios
import time

from dialogue_case import board_environment

MENU_PROMPT = b"Your Option :"
INVALID_OPTION = b"Please Enter valid option \r\n"
TIMEOUT_SECONDS = 20


def read_until(stream, output, prompts):
    """Reads the program's output until it has shown the menu prompt that often."""
    deadline = time.monotonic() + TIMEOUT_SECONDS
    while output.count(MENU_PROMPT) < prompts:
        if time.monotonic() > deadline:
            raise SystemExit(f"no menu prompt number {prompts} within {TIMEOUT_SECONDS} s: {bytes(output)!r}")
        ready, _, _ = select.select([stream], [], [], 0.1)
        if ready:
            chunk = os.read(stream.fileno(), 4096)
            if not chunk:
                raise SystemExit(f"the program ended early: {bytes(output)!r}")
            output += chunk


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--answers", required=True,
                        help="the port, choice and answers up to the failed call, separated by |")
    parser.add_argument("--fail", required=True)
    parser.add_argument("--emulator", nargs=argparse.REMAINDER, default=[])
    args = parser.parse_args()

    terminal, program_side = pty.openpty()
    attributes = termios.tcgetattr(program_side)
    attributes[3] &= ~termios.ECHO
    termios.tcsetattr(program_side, termios.TCSANOW, attributes)
    process = subprocess.Popen([*args.emulator, args.program], stdin=program_side, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, env=board_environment(MARLEK_SIM_FAIL=args.fail))
    os.close(program_side)
    output = bytearray()
    try:
        # The port, then at the menu the rest typed at once: the wait takes the
        # a of abc; bc and the line junk are typed ahead of the next menu prompt.
        port, *answers = args.answers.split("|")
        os.write(terminal, (port + "\n").encode())
        read_until(process.stdout, output, 1)
        os.write(terminal, "".join(answer + "\n" for answer in answers + ["abc", "junk"]).encode())
        read_until(process.stdout, output, 2)
        os.write(terminal, b"q\n")
        rest, errors = process.communicate(timeout=TIMEOUT_SECONDS)
    finally:
        if process.poll() is None:
            process.kill()
        os.close(terminal)
    output += rest
    if INVALID_OPTION in output or process.returncode != 0 or errors:
        print(f"typed-ahead input was not discarded: status {process.returncode}, "
              f"output {bytes(output)!r}, errors {errors!r}")
        return 1
    print("typed-ahead input discarded")
    return 0


if __name__ == "__main__":
    sys.exit(main())
