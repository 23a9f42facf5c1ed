#!/usr/bin/env python3
"""marlek-board as an operator meets it on any machine, GPIO or none: its
usage, the advice for a description it cannot read, every malformed line
listed, and no control character of a path or a word on the terminal. What it
finds on a real kernel is in the hardware cases.

  board_check_test.py --tool PATH [--emulator CMD...]
"""
import argparse
import glob
import os
import subprocess
import sys
import tempfile

ESC_NAME = "\x1b[2J" + os.fsdecode(b"\x9b") + ".conf"  # clears the screen; CSI as one byte
ESC_SHOWN = "\\x1b[2J\\x9b.conf"
HELP_START = "Usage: marlek-board [--] [FILE]\n"


def cases(folder):
    """(name, arguments, environment, expected status, text that standard output or error must hold).
    Paths are relative to folder."""
    missing = "cannot open the board description {}: No such file or directory; "
    return [
        ("help", ["--help"], {}, 0, HELP_START),
        ("help_short", ["-h"], {}, 0, HELP_START),
        ("help_wins", ["x.conf", "--help"], {}, 0, HELP_START),
        ("version", ["--version"], {}, 0, "marlek-board "),
        ("unknown_option", ["--check"], {}, 2, "marlek-board: unknown option '--check'; see marlek-board --help\n"),
        ("empty_file_name", [""], {}, 2, "marlek-board: an empty argument names no file; see marlek-board --help\n"),
        ("two_files", ["a.conf", "b.conf"], {}, 2, "marlek-board: one FILE at most: drop 'b.conf'"),
        ("list_takes_no_file", ["--list", "a.conf"], {}, 2, "marlek-board: --list takes no FILE: drop 'a.conf'"),
        ("two_commands", ["--list", "--draft"], {}, 2, "one command at a time: drop '--draft'"),
        # After "--" an argument that begins with '-' is a file.
        ("dash_file", ["--", "-bad.conf"], {}, 1, "marlek-board: -bad.conf:1: \"9\" is not a pin"),
        ("argument_missing", ["none.conf"], {"MARLEK_BOARD": "set.conf"}, 1,
         "marlek-board: " + missing.format("none.conf") + "correct the path, or write the board's description "
         "there (see marlek-board.conf(5))\n"),
        ("variable_missing", [], {"MARLEK_BOARD": "none.conf"}, 1,
         "marlek-board: " + missing.format("none.conf") + "correct MARLEK_BOARD, or unset it to use "
         "/etc/marlek/board.conf (see marlek-board.conf(5))\n"),
        ("argument_folder", ["folder"], {}, 1,
         "marlek-board: the board description folder is a folder, not a regular file; name the description's file\n"),
        ("variable_folder", [], {"MARLEK_BOARD": "folder"}, 1,
         "marlek-board: the board description folder (MARLEK_BOARD names it) is a folder, not a regular file"),
        ("device", ["/dev/null"], {}, 1,
         "marlek-board: the board description /dev/null is a character device, not a regular file; name the "
         "description's file\n"),
        ("every_malformed_line", ["malformed.conf"], {}, 1,
         "marlek-board: malformed.conf:1: \"9\" is not a pin: the pins are 0 to 7\n"
         "marlek-board: malformed.conf:3: unknown entry \"pins\"; an entry begins with pin, led, uart12 or uart34 "
         "(see marlek-board.conf(5))\n"
         "marlek-board: malformed.conf:4: the line holds a carriage return (\\r) before its end; put each entry on "
         "a line of its own\n"
         "marlek-board: malformed.conf is not usable as it stands: 3 problems above\n"),
        ("escaped_path", [ESC_NAME], {}, 1, "cannot open the board description " + ESC_SHOWN + ": No such file"),
        ("escaped_word", ["escaped.conf"], {}, 1,
         "marlek-board: escaped.conf:1: unknown entry \"\\x1b]0;title\\x07\"; an entry begins with pin"),
        # A quoted word's backslash and quote are escaped: it reads back as it is.
        ("quoted_word", ["quoted.conf"], {}, 1, "marlek-board: quoted.conf:1: \"\\\\x1b\\\"\" is not a pin"),
        ("probe_needs_a_tty", ["--probe"], {}, 2, "marlek-board: --probe needs a TTY"),
        ("probe_missing", ["--probe", "ttyNONE"], {}, 1,
         "marlek-board: --probe ttyNONE: cannot open /dev/ttyNONE: No such file or directory; correct the tty\n"),
        ("draft_keeps_a_file", ["--draft", "kept.conf"], {}, 1,
         "marlek-board: kept.conf exists already; name a new file (marlek-board --draft never replaces one)\n"),
        # Nothing described is no problem of the file.
        ("only_comments", ["comments.conf"], {}, 0,
         "board description comments.conf\n" + NO_SERVICE + "pins     not described: the digital I/O cannot be opened\n"
         "led      not described: userled cannot switch it\n"),
    ]


# On a machine where the board service does not run.
NO_SERVICE = "service  not running (no /run/marlek-board/board.sock): each program drives the kernel itself\n"

# On a machine without GPIO chips or without the LED class: each problem once,
# with what it concerns.
NO_GPIO = ("pin 0    problem: GPIO chip not found: no GPIO chip \"hdr\": this system has no /dev/gpiochipN at "
           "all; is the GPIO driver loaded? (eight.conf: " + ", ".join(f"pin {pin} on line {pin + 1}"
                                                                     for pin in range(8)) + ")\n")
NO_LED_CLASS = ("led      problem: LED cannot be written: eight.conf:9: the LED: this system has no LED class (no "
                "/sys/class/leds): its kernel has no LED support, or sysfs is not mounted; describe the LED as a "
                "GPIO line ('led line CHIP LINE'), or leave it out\n")


NO_GPIO_DRAFT = ("#\n# This system has no GPIO chip (/dev/gpiochipN).\n\n"
                 "# The eight pins of pinio and pindrive: 'pin N CHIP LINE', CHIP a chip's\n")


def write(folder, name, text, mode="w"):
    with open(os.path.join(folder, name), mode) as file:
        file.write(text)


def prepare(folder):
    os.mkdir(os.path.join(folder, "folder"))
    write(folder, "-bad.conf", "pin 9 a 0\n")
    write(folder, "malformed.conf", b"pin 9 a 0\n\npins 1\nled class a\rb\r\n", "wb")
    write(folder, "escaped.conf", "\x1b]0;title\x07 1\n")
    write(folder, "quoted.conf", "pin \\x1b\" a 0\n")
    write(folder, "kept.conf", "keep\n")
    write(folder, "comments.conf", "\ufeff# nothing yet\r\n")
    write(folder, "eight.conf", "".join(f"pin {pin} hdr {pin}\n" for pin in range(8)) + "led class user\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--emulator", nargs=argparse.REMAINDER, default=[])
    args = parser.parse_args()
    args.tool = os.path.abspath(args.tool)
    failures = 0
    with tempfile.TemporaryDirectory() as folder:
        prepare(folder)
        table = cases(folder)
        if not glob.glob("/dev/gpiochip*"):
            table.append(("no_gpio_once", ["eight.conf"], {}, 1, NO_GPIO))
        if not os.path.exists("/sys/class/leds"):
            table.append(("no_led_class", ["eight.conf"], {}, 1, NO_LED_CLASS))
        # "-" is standard output; no port is opened for the draft.
        table.append(("draft_to_standard_output", ["--draft", "-"], {}, 0,
                      "# A starting board description" if glob.glob("/dev/gpiochip*") else NO_GPIO_DRAFT))
        for name, arguments, environment, status, expected in table:
            env = {k: v for k, v in os.environ.items() if k != "MARLEK_BOARD"}
            env.update(environment)
            result = subprocess.run([*args.emulator, args.tool, *arguments], cwd=folder, env=env,
                                    capture_output=True, timeout=60)
            output = (result.stdout + result.stderr).decode("utf-8", "replace")
            control = any(byte < 0x20 and byte != 0x0A or byte in (0x7F, 0x9B)
                          for byte in result.stdout + result.stderr)
            if result.returncode != status or expected not in output or control:
                failures += 1
                print(f"FAILED {name}: status {result.returncode} (expected {status}), control characters "
                      f"{control}\n--- expected to find:\n{expected}--- got:\n{output}")
            with open(os.path.join(folder, "kept.conf")) as kept:
                if kept.read() != "keep\n":
                    failures += 1
                    print(f"FAILED {name}: kept.conf was replaced")
            if os.path.exists(os.path.join(folder, "-")):
                failures += 1
                print(f"FAILED {name}: a file named - was made")
        # A full standard output is a failure that says so, the check's too.
        for arguments in [["--help"], ["comments.conf"]]:
            with open("/dev/full", "w") as full:
                result = subprocess.run([*args.emulator, args.tool, *arguments], cwd=folder, stdout=full,
                                        stderr=subprocess.PIPE, timeout=60)
            lost = b"marlek-board: cannot write the output: No space left on device"
            if result.returncode != 1 or lost not in result.stderr:
                failures += 1
                print(f"FAILED {arguments} to /dev/full: status {result.returncode}, standard error {result.stderr!r}")
    print(f"{len(table) + 2 - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
