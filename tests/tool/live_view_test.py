#!/usr/bin/env python3
"""The shared live view as a watch of a board that tells of its changes uses
it (tests/tool/view_probe.cpp): it waits with no timeout, wakes for the
board's descriptor, a key, a new window size and an end signal, and for
nothing else; the pin table of a board with pins that no program holds.

  live_view_test.py --probe PATH [--emulator CMD...]
"""
import argparse
import fcntl
import os
import pty
import re
import select
import signal
import struct
import subprocess
import sys
import termios
import time
import unittest

PROBE = []
TIMEOUT_SECONDS = 20


class LiveView(unittest.TestCase):
    def start(self):
        self.terminal, self.side = pty.openpty()
        self.addCleanup(os.close, self.terminal)
        self.addCleanup(os.close, self.side)
        self.resize(30, 100)
        self.before = termios.tcgetattr(self.side)
        board, self.board = os.pipe()
        self.addCleanup(os.close, self.board)
        # The terminal is the probe's own, as a shell's is to a watch in its
        # foreground: the kernel tells it of a new window size.
        self.probe = subprocess.Popen([*PROBE, str(board)], stdin=self.side, stdout=self.side,
                                      stderr=subprocess.PIPE, pass_fds=(board,), start_new_session=True,
                                      preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
        os.close(board)
        self.addCleanup(self.probe.stderr.close)
        self.addCleanup(lambda: self.probe.poll() is None and self.probe.kill())
        self.screen = bytearray()
        self.shows(rb"DATA:\t-\t-\t-\t-\t\?\t0\t1\t1\r\n")

    def resize(self, rows, columns):
        fcntl.ioctl(self.side, termios.TIOCSWINSZ, struct.pack("HHHH", rows, columns, 0, 0))

    def shows(self, pattern):
        deadline = time.monotonic() + TIMEOUT_SECONDS
        while not re.search(pattern, self.screen):
            self.assertLess(time.monotonic(), deadline, f"no {pattern!r} in {bytes(self.screen)!r}")
            if select.select([self.terminal], [], [], 0.1)[0]:
                self.screen.extend(os.read(self.terminal, 65536))

    def test_wakes_for_the_board_a_key_and_a_new_size_alone(self):
        self.start()
        self.assertNotIn(b"EXT:", self.screen)  # no external level known
        self.shows(rb"DIR:\t-\t-\t-\t-\tin\tin\tin\tout\r\n(.|\n)*"
                   rb"DIR in or out, - held by no program; DRIVE pp push-pull, od open-drain;\r\n"
                   rb"OUT what an output drives; DATA the level a read gives; \? not known\.\r\n")
        self.shows(rb"LED:            \x1b\[1;30;103m\(\*\)\x1b\[0m on\r\n")
        time.sleep(1)  # quiet: no wake-up
        os.write(self.board, b"pin 2 level 1 -> 0 by pinio[42] \x1b[2J\n")
        self.shows(rb"> pin 2 level 1 -> 0 by pinio\[42\] \\x1b\[2J")
        self.resize(12, 40)
        self.shows(rb"view-probe watch: the window is too small, 19 rows needed")
        os.write(self.terminal, b"q")
        self.assertEqual(self.probe.wait(timeout=TIMEOUT_SECONDS), 0)
        wakes = int(re.fullmatch(rb"wakes (\d+)\n", self.probe.stderr.read()).group(1))
        self.assertLessEqual(wakes, 4)  # the line, the size, q (a wait of 25 ms would wake 40 times a second)
        self.shows(rb"\x1b\[\?25h\x1b\[\?1049l$")
        self.assertEqual(termios.tcgetattr(self.side), self.before)

    def test_an_end_signal_ends_a_wait_without_a_timeout(self):
        self.start()
        self.probe.send_signal(signal.SIGTERM)
        self.assertEqual(self.probe.wait(timeout=TIMEOUT_SECONDS), -signal.SIGTERM)
        self.shows(rb"\x1b\[\?25h\x1b\[\?1049l$")
        self.assertEqual(termios.tcgetattr(self.side), self.before)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--probe", required=True)
    parser.add_argument("--emulator", nargs="+", default=[])
    args, rest = parser.parse_known_args()
    PROBE.extend([*args.emulator, args.probe])
    unittest.main(argv=[sys.argv[0], *rest])


if __name__ == "__main__":
    main()
