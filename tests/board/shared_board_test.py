#!/usr/bin/env python3
"""The shared simulated board seen from outside: the programs, the marlek-sim
tool and a helper that drives the board through the library interface, each
in processes of their own, on a state file of the test's own.

  shared_board_test.py --tool PATH --hammer PATH --pinio PATH --pindrive PATH --userled PATH
                       --uartmode PATH [--emulator CMD...] [unittest arguments, e.g. a class name]
"""
import argparse
import os
import queue
import random
import re
import select
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from qemu_user import skip_what_qemu_user_cannot_run  # noqa: E402

PROGRAMS = {}
EMULATOR = []  # what runs the programs: Wine for the Windows build, qemu-user for the arm64 build
WINDOWS = False  # the programs are Windows programs, run under Wine
TIMEOUT_SECONDS = 120
RESET_ADVICE = "; 'marlek-sim reset' (or removing the file) starts a fresh board"
BY_HAND_ADVICE = "; remove it by hand if it may go, or set MARLEK_SIM_STATE to a file of your own elsewhere"
BOUND_SECONDS = 15  # every wait for the board gives up after 10 s
SLOT_PAYLOADS = (128 + 24, 640 + 24)
# A run in a mount namespace of its own with nothing at /proc, where the boot cannot be told.
WITHOUT_PROC = ["unshare", "-m", "sh", "-c", 'mount -t tmpfs none /proc && exec "$@"', "sh"]


def byte_tables(output):
    """The bits of each table pinio printed, pin 7 first."""
    return [row.split() for row in re.findall(r"DATA:((?:\t[01]){8})", output)]


def bits(text):
    return text.split()


class BoardCase(unittest.TestCase):
    def setUp(self):
        work = tempfile.TemporaryDirectory(prefix="shared-board-")
        self.addCleanup(work.cleanup)
        self.work = work.name
        self.state = os.path.join(self.work, "marlek-sim.board")
        self.env = {key: value for key, value in os.environ.items() if not key.startswith("MARLEK_SIM_")}
        self.env["MARLEK_SIM_STATE"] = self.state

    def run_program(self, name, *args, stdin="", env=None):
        result = subprocess.run([*EMULATOR, PROGRAMS[name], *args], input=stdin.encode(), capture_output=True,
                                env={**self.env, **(env or {})}, timeout=TIMEOUT_SECONDS)
        # Windows writes text with \r\n line ends.
        result.stdout = result.stdout.replace(b"\r\n", b"\n")
        result.stderr = result.stderr.replace(b"\r\n", b"\n")
        return result

    def tool(self, *args, status=0, env=None):
        result = self.run_program("tool", *args, env=env)
        self.assertEqual(result.returncode, status, result.stderr.decode())
        return result.stdout.decode() if status == 0 else result.stderr.decode()

    def program(self, name, answers, env=None):
        result = self.run_program(name, stdin=answers, env=env)
        self.assertEqual((result.returncode, result.stderr), (0, b""), result.stdout.decode()[-500:])
        return result.stdout.decode()

    def shown(self, label, env=None):
        """The cells of one line of marlek-sim show."""
        for line in self.tool("show", env=env).splitlines():
            if line.startswith(label + ":"):
                return line.split("\t")[1:]
        self.fail(f"marlek-sim show has no line {label}")


class AcrossRuns(BoardCase):
    def test_the_readme_tour(self):
        self.tool("reset")
        self.assertIn("The Byte value  165 is sent to GPIO Pins", self.program("pinio", "3\n165\nq\nq\n"))
        self.assertEqual(self.shown("DIR"), ["out"] * 8)
        self.assertEqual(self.shown("DRIVE"), ["od"] * 8)
        self.assertEqual(self.shown("OUT"), bits("1 0 1 0 0 1 0 1"))
        self.assertEqual(self.shown("DATA"), bits("1 0 1 0 0 1 0 1"))
        self.assertEqual(byte_tables(self.program("pinio", "1\nq\n")), [bits("1 0 1 0 0 1 0 1")])
        # Pin 2 is released (open-drain driven high): it shows the outside.
        self.tool("set-input", "2", "0")
        self.assertIn("DATA: GPIO2 - 0", self.program("pinio", "2\n2\nq\n"))
        # Pin 3 is held low by its own output, whatever the outside does.
        self.tool("set-input", "3", "1")
        self.assertIn("DATA: GPIO3 - 0", self.program("pinio", "2\n3\nq\n"))

    def test_every_program_and_the_tool_see_one_board(self):
        self.tool("set-inputs", "0x5A")
        self.assertEqual(byte_tables(self.program("pinio", "1\nq\n")), [bits("0 1 0 1 1 0 1 0")])
        hammer = self.run_program("hammer", "toggle", "5", "1")  # push-pull outputs, pin 5 driven high
        self.assertEqual(hammer.returncode, 0, hammer.stderr.decode())
        self.assertEqual(byte_tables(self.program("pinio", "1\nq\n")), [bits("0 0 1 0 0 0 0 0")])
        self.program("userled", "3\n1\n0\nq\n")
        self.program("uartmode", "5\n2\n2\nq\n")  # the second pair of COM 5 on: ports 7 and 8
        self.assertEqual(self.shown("LED"), ["on, first COM port 3"])
        self.assertEqual(self.shown("UART 1 and 2"), ["not set"])
        self.assertEqual(self.shown("UART 3 and 4"), ["RS-422, ports 7 and 8"])
        self.assertEqual(self.shown("EXT"), bits("0 1 0 1 1 0 1 0"))  # kept through it all

    def test_pindrive_sets_the_drive_of_each_pin(self):
        # Pin 7 first; every choice leaves all pins inputs.
        for answers, drive in [("1", "pp pp pp pp pp pp pp pp"), ("3\n5", "od od pp od od od od od"),
                               ("2", "od od od od od od od od"), ("3\n0", "od od od od od od od pp"),
                               ("4\n2", "od od od od od od od od")]:
            with self.subTest(answers):
                self.program("pindrive", answers + "\nq\n")
                self.assertEqual(self.shown("DRIVE"), bits(drive))
                self.assertEqual(self.shown("DIR"), ["in"] * 8)

    def test_a_memory_board_is_private_to_its_run(self):
        memory = {"MARLEK_SIM_STATE": "memory"}
        self.program("pinio", "3\n0\nq\nq\n", env=memory)
        self.assertEqual(byte_tables(self.program("pinio", "1\nq\n", env=memory)), [bits("1 1 1 1 1 1 1 1")])
        self.assertEqual(os.listdir(self.work), [])
        self.assertIn("each program run a board of its own", self.tool("show", status=1, env=memory))


class Concurrency(BoardCase):
    def hammer(self, *args):
        process = subprocess.Popen([*EMULATOR, PROGRAMS["hammer"], *args], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, env=self.env)
        self.addCleanup(stop, process)  # none is left running when a check fails
        return process

    def test_two_processes_lose_no_update(self):
        # Each drives its own pin and reads it back after every write; a write
        # of the other process made from a stale board would undo it. Runs
        # come and go beside them, some that cannot tell the boot (no /proc),
        # and must leave the lock alone.
        count = "100000" if EMULATOR else "1000000"  # Wine takes each lock through its server: slower
        writers = [self.hammer("toggle", str(pin), count) for pin in (0, 1)]
        for writer in writers:
            self.assertEqual(writer.stdout.readline().rstrip(), b"ready")
        for writer in writers:
            writer.stdin.write(b"go\n")
            writer.stdin.flush()
        beside = [[*EMULATOR, PROGRAMS["tool"], "show"]]
        if not EMULATOR and subprocess.run([*WITHOUT_PROC, "true"], capture_output=True).returncode == 0:
            beside.append([*WITHOUT_PROC, PROGRAMS["tool"], "show"])
        while any(writer.poll() is None for writer in writers):
            for command in beside:
                subprocess.run(command, capture_output=True, env=self.env, timeout=TIMEOUT_SECONDS)
        for writer in writers:
            _, errors = writer.communicate(timeout=TIMEOUT_SECONDS)
            self.assertEqual((writer.returncode, errors), (0, b""))
        self.assertEqual(self.shown("OUT")[-2:], ["0", "0"])  # 10,000 toggles: back to low

    def test_writers_killed_at_any_moment_leave_a_board_that_loads(self):
        generator = random.Random(8)
        for round_number in range(15):
            writers = [self.hammer("write-forever") for _ in range(2)]
            for writer in writers:
                self.assertEqual(writer.stdout.readline().rstrip(), b"writing")  # past its first write
            time.sleep(generator.uniform(0, 0.02))
            writers[0].kill()  # most likely in the middle of an operation, holding the lock
            writers[0].wait()
            self.tool("show")  # takes over the lock of the dead writer, reads a whole slot
            self.assertIsNone(writers[1].poll(), f"round {round_number}: the other writer stopped")
            writers[1].send_signal(signal.SIGKILL)
            writers[1].wait()
            self.tool("show")
        self.assertEqual(byte_tables(self.program("pinio", "3\n60\nq\n1\nq\n")), [bits("0 0 1 1 1 1 0 0")])


def stop(process):
    if process.poll() is None:
        process.kill()
    process.communicate()


def store_text(path, old, new):
    """Puts new in place of old in the newest copy of the board, as an older simulator may have stored it."""
    with open(path, "r+b") as file:
        data = bytearray(file.read())
        slot = max((at - 24 for at in SLOT_PAYLOADS), key=lambda at: int.from_bytes(data[at + 8:at + 16], "little"))
        at = data.index(old, slot)
        data[at:at + len(old)] = new
        end = slot + 24 + (int.from_bytes(data[slot + 16:slot + 24], "little") + 7) // 8 * 8
        data[slot:slot + 4] = zlib.crc32(data[slot + 8:end]).to_bytes(4, "little")
        file.seek(slot)
        file.write(data[slot:end])


def damage_both_slots(data):
    for at in SLOT_PAYLOADS:
        data[at] ^= 0x01
    return data


def set_version(data):
    data[8] = 7
    return data


class Refusals(BoardCase):
    CASES = [  # what is done to the file, what is said of it, whether reset replaces it
        ("corrupt", damage_both_slots, "is corrupt: neither copy of the board in it passes its check", True),
        ("wrong version", set_version, "holds board state of version 7, and this simulator reads version 1", True),
        ("not a board", lambda data: b"my notes\n", "is not a board state file", False),
        ("symbolic link", "link", "is a symbolic link, and the board state is kept only in a plain file", False),
        ("another user's", "owner", "belongs to {owner}, not to you", False),
    ]

    def test_unusable_state_is_refused_with_what_is_wrong_and_how_to_reset(self):
        for name, change, text, resettable in self.CASES:
            if change == "link" and WINDOWS:
                continue  # Wine shows a Windows program the file a Unix link points to, not the link
            if change == "owner" and os.geteuid() != 0:
                continue  # only root can give a file away
            with self.subTest(name):
                self.tool("reset")
                self.tool("set-inputs", "0x0F")
                if change == "link":
                    target = os.path.join(self.work, "elsewhere")
                    os.replace(self.state, target)
                    os.symlink(target, self.state)
                elif change == "owner":
                    os.chown(self.state, 4321, 4321)
                    # Wine gives a file of an unknown Unix user to the anonymous logon.
                    text = text.format(owner="NT AUTHORITY\\ANONYMOUS LOGON" if WINDOWS else "user 4321")
                else:
                    with open(self.state, "rb") as file:
                        data = change(bytearray(file.read()))
                    with open(self.state, "wb") as file:
                        file.write(data)
                with open(self.state, "rb") as file:
                    before = file.read()

                result = self.run_program("pinio", stdin="1\nq\n")
                advice = RESET_ADVICE if resettable else BY_HAND_ADVICE
                report = f"Marlek_DIOInit: simulated board state unusable {self.state} {text}{advice}\n"
                self.assertEqual(result.returncode, 1)
                self.assertTrue(result.stdout.decode().startswith(report), result.stdout.decode())
                for command in (["show"], ["watch", "--timeout", "5"]):
                    self.assertIn(f"marlek-sim: simulated board state unusable: {self.state} {text}{advice}\n",
                                  self.tool(*command, status=1))
                if not resettable:
                    self.tool("reset", status=1)
                with open(self.state, "rb") as file:
                    self.assertEqual(file.read(), before)  # nothing thrown away
                if not resettable:
                    os.remove(self.state)

                self.tool("reset")
                self.assertEqual(byte_tables(self.program("pinio", "1\nq\n")), [bits("1 1 1 1 1 1 1 1")])
                self.assertFalse(os.path.islink(self.state))


class BadConditions(BoardCase):
    def test_a_setting_that_cannot_be_used_is_named_in_the_report(self):
        fifo = os.path.join(self.work, "fifo")
        cases = [  # the setting, and what the report line says of it after its value
            ({"MARLEK_SIM_INPUTS": "zz"}, "not a byte (0 to 255, 0x00 to 0xFF or 0 to 0377)"),
            ({"MARLEK_SIM_FAIL": "NoSuchOperation"}, "no operation is called 'NoSuchOperation'"),
            ({"MARLEK_SIM_FAIL": "Marlek_DIOInit:9:\x1b[2J"}, "the text holds a control character"),
            ({"MARLEK_SIM_TRACE": os.path.join(self.work, "no", "trace")}, "cannot open it to append: "),
            ({"MARLEK_SIM_TRACE": self.state}, "it is the board state file"),
            ({"MARLEK_SIM_STATE": os.path.join(self.work, "no", "board")}, "cannot create a file beside "),
            ({"MARLEK_SIM_STATE": os.path.join(self.work, "board/")}, "it ends in a separator, so it names a folder"),
        ]
        if not WINDOWS:
            os.mkfifo(fifo)  # no reader: opening it must not wait for one
            cases.append(({"MARLEK_SIM_TRACE": fifo}, "it is not a regular file"))
            # The default place, in a runtime folder that cannot be used: the variable that named it is blamed.
            cases.append(({"XDG_RUNTIME_DIR": "/nonexistent/run", "MARLEK_SIM_STATE": ""}, "there is no such folder"))
            cases.append(({"XDG_RUNTIME_DIR": fifo, "MARLEK_SIM_STATE": ""}, "it is not a folder"))
            cases.append(({"TMPDIR": "/nonexistent/tmp", "XDG_RUNTIME_DIR": "", "MARLEK_SIM_STATE": ""},
                          "there is no such folder"))
        for env, problem in cases:
            with self.subTest(env):
                result = self.run_program("pinio", stdin="1\nq\n", env=env)
                self.assertEqual(result.returncode, 1)
                (variable, value), *_ = env.items()
                if variable in ("XDG_RUNTIME_DIR", "TMPDIR"):
                    self.assertIn(f"invalid: {variable}={value}: {problem}", self.tool("path", status=1, env=env))
                shown = value.replace("\x1b", "\\x1b")  # no control character reaches the terminal
                report = f"Marlek_DIOInit: simulator setting invalid {variable}={shown}: {problem}"
                self.assertTrue(result.stdout.decode().startswith(report), result.stdout.decode())
                self.assertEqual(sorted(os.listdir(self.work)), ["fifo"] if not WINDOWS else [])

    def test_closed_standard_streams_never_reach_the_board(self):
        if WINDOWS:
            self.skipTest("descriptors are a POSIX matter")
        written, untouched = bits("1 0 1 0 0 1 0 1"), ["1"] * 8
        cases = [  # the command, the stream closed, its status, the board's DATA after it
            ([*EMULATOR, PROGRAMS["pinio"]], "1", 0, written),  # closed output: the output is lost
            ([*EMULATOR, PROGRAMS["pinio"]], "0", 0, untouched),  # closed input: end of input, as q
            ([*EMULATOR, PROGRAMS["pinio"]], "2", 0, written),
            ([*EMULATOR, PROGRAMS["tool"], "fail", "Nope"], "2", 2, untouched),
            ([*EMULATOR, PROGRAMS["tool"], "show"], "1", 1, untouched),  # output it cannot write
            ([*EMULATOR, PROGRAMS["tool"], "set-inputs", "0x5A"], "1", 0, bits("0 1 0 1 1 0 1 0")),
        ]
        for command, stream, status, data in cases:
            with self.subTest(command=command[len(EMULATOR) + 1:], closed=stream):
                self.tool("reset")
                answers = b"3\n165\nq\nq\n"  # pinio: write byte 165
                result = subprocess.run(["sh", "-c", f'exec "$@" {stream}>&-', "sh", *command], input=answers,
                                        capture_output=True, env=self.env, timeout=TIMEOUT_SECONDS)
                self.assertEqual(result.returncode, status, result.stderr.decode())
                self.assertEqual(self.shown("DATA"), data)  # the board file is whole and as the command left it
        for command in ("show", "--version"):  # told once
            with open("/dev/full", "wb") as full:
                result = subprocess.run([*EMULATOR, PROGRAMS["tool"], command], stdout=full, stderr=subprocess.PIPE,
                                        env=self.env)
            self.assertEqual((result.returncode, result.stderr),
                             (1, b"marlek-sim: cannot write the output: No space left on device\n"))

    def test_a_held_board_is_given_up_within_the_bound(self):
        for lock, kind in [("whole", "its lock of the whole file"), ("board", "the board's lock")]:
            with self.subTest(lock):
                holder = subprocess.Popen([*EMULATOR, PROGRAMS["hammer"], "hold", lock], stdin=subprocess.PIPE,
                                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=self.env)
                self.addCleanup(stop, holder)
                self.assertEqual(holder.stdout.readline().rstrip(), b"holding")
                # A watch keeps to its own end, before the bound of the wait.
                started = time.monotonic()
                self.tool("watch", "--timeout", "1", status=1)
                self.assertLess(time.monotonic() - started, 5)
                started = time.monotonic()
                result = self.run_program("pinio", stdin="1\nq\n")
                elapsed = time.monotonic() - started
                self.assertEqual(result.returncode, 1)
                self.assertLess(elapsed, BOUND_SECONDS)
                self.assertIn(f"is held by another process through {kind}", result.stdout.decode())
                self.assertIn("Marlek DIO Test V1.0 completed : FAILED", result.stdout.decode())
                # A reset waiting for the stuck lock, while another file takes the board's place.
                notes = os.path.join(self.work, "notes")
                with open(notes, "w") as file:
                    file.write("notes\n")
                reset = subprocess.Popen([*EMULATOR, PROGRAMS["tool"], "reset"], stdout=subprocess.PIPE,
                                         stderr=subprocess.PIPE, env=self.env)
                self.addCleanup(stop, reset)
                threading.Timer(3, os.replace, (notes, self.state)).start()
                _, errors = reset.communicate(timeout=TIMEOUT_SECONDS)
                self.assertEqual(reset.returncode, 1)
                self.assertIn("is another file than the board state file that reset found there", errors.decode())
                with open(self.state) as file:
                    self.assertEqual(file.read(), "notes\n")  # spared
                os.remove(self.state)
                holder.communicate(b"\n", timeout=TIMEOUT_SECONDS)
                self.assertEqual(byte_tables(self.program("pinio", "1\nq\n")), [bits("1 1 1 1 1 1 1 1")])


class Tool(BoardCase):
    def test_bad_arguments_are_refused_with_status_2(self):
        cases = [
            ([], "a command is needed"),
            (["shw"], "no command is called 'shw'"),
            (["show", "now"], "show takes no arguments"),
            (["set-input", "3"], "set-input takes PIN 0|1"),
            (["set-input", "8", "1"], "PIN must be 0 to 7, not '8'"),
            (["set-input", "-1", "1"], "PIN must be 0 to 7, not '-1'"),
            (["set-input", "03", "1"], "PIN must be 0 to 7, not '03'"),
            (["set-input", "3", "high"], "the level must be 0 or 1, not 'high'"),
            (["set-inputs", "256"], "BYTE must be 0 to 255 (or 0x00 to 0xFF), not '256'"),
            (["set-inputs", "0xA5", "1"], "set-inputs takes BYTE"),
            (["fail"], "fail takes OPERATION [COUNT] [CODE] [TEXT], or clear"),
            (["fail", "Marlek_DIOInits"], "no operation is called 'Marlek_DIOInits'; the operations are Marlek_DIOInit,"),
            (["fail", "Marlek_DIOInit", "0"], "COUNT must be 'all' or a call number from 1, not '0'"),
            (["fail", "Marlek_DIOInit", "first"], "COUNT must be 'all' or a call number from 1, not 'first'"),
            (["fail", "Marlek_DIOInit", "1", "256"], "CODE must be a number from 0 to 255, not '256'"),
            (["fail", "Marlek_DIOInit", "1", "9", "x" * 81], "TEXT is longer than 80 bytes"),
            (["fail", "clear", "now"], "fail clear takes no arguments"),
            (["fail", "Marlek_DIOInit", "1", "9", "two\nlines"], "TEXT holds a control character"),
            (["fail", "Marlek_DIOInit", "1", "9", "\x1b[2J"], "TEXT holds a control character"),
            (["fail", "Marlek_DIOInit", "1", "9", b"csi\x9b2J"], "TEXT holds a control character (\\x9b)"),
            (["set-inputs", " 5"], "BYTE must be 0 to 255 (or 0x00 to 0xFF), not ' 5'"),
            (["set-inputs", "\t5"], "BYTE must be 0 to 255 (or 0x00 to 0xFF), not '\\t5'"),
            (["shw\x1b[2J"], "no command is called 'shw\\x1b[2J'"),  # shown, not acted on
            (["fail", "Marlek_DIOInit", "1", "9", "off", "line"], "fail takes OPERATION [COUNT] [CODE] [TEXT]"),
            (["watch", "now"], "watch takes [--count N] [--timeout SECONDS], not 'now'"),
            (["watch", "--count", "0"], "--count must be a number of changes from 1, not '0'"),
            (["watch", "--timeout", "0.0005"], "--timeout must be a number of seconds above 0 with at most three"),
        ]
        for args, message in cases:
            if WINDOWS and any(isinstance(arg, bytes) for arg in args):
                continue  # Wine hands a Windows program a byte that is not UTF-8 as another character
            with self.subTest(args=args):
                errors = self.tool(*args, status=2)
                self.assertTrue(errors.startswith(f"marlek-sim: {message}"), errors)
                self.assertTrue(errors.endswith("Try 'marlek-sim --help'.\n"), errors)
        self.assertFalse(os.path.exists(self.state))  # nothing was done to the board

    def test_the_state_path_and_settings_are_shown_escaped(self):
        self.state = os.path.join(self.work, "b\x1b]0;owned\x07")  # would set the terminal's title
        self.env["MARLEK_SIM_STATE"] = self.state
        shown = os.path.join(self.work, "b\\x1b]0;owned\\x07")

        def make_folder():
            os.remove(self.state)
            os.mkdir(self.state)

        def make_foreign():
            os.rmdir(self.state)
            with open(self.state, "w") as file:
                file.write("my notes\n")

        cases = [  # what is done first, the command, its status, what it says
            (None, ["path"], 0, f"{shown}\n"),
            (None, ["show"], 0, f"Board state in {shown}\n"),
            (make_folder, ["show"], 1, f"unusable: {shown} is not a plain file"),
            (make_foreign, ["reset"], 1, f"unusable: {shown} is not a board state file"),
        ]
        for prepare, args, status, said in cases:
            if WINDOWS and args != ["path"]:
                continue  # a Windows file name holds no control characters
            with self.subTest(args=args, status=status):
                if prepare is not None:
                    prepare()
                result = self.run_program("tool", *args)
                self.assertEqual(result.returncode, status, result.stderr)
                told = (result.stdout if status == 0 else result.stderr).decode()
                self.assertIn(said, told)
                self.assertNotIn("\x1b", told)
        # A setting in show's note too.
        told = self.tool("show", env={"MARLEK_SIM_STATE": os.path.join(self.work, "plain"),
                                      "MARLEK_SIM_INPUTS": "\x1b[2J"})
        self.assertIn("Note: MARLEK_SIM_INPUTS=\\x1b[2J is set here", told)

    def test_a_reader_that_stopped_reading_is_no_error(self):
        reading, writing = os.pipe()
        os.close(reading)  # as head does once it has its lines
        result = subprocess.run([*EMULATOR, PROGRAMS["tool"], "--help"], stdout=writing, stderr=subprocess.PIPE,
                                env=self.env, timeout=TIMEOUT_SECONDS,
                                preexec_fn=lambda: signal.signal(signal.SIGPIPE, signal.SIG_IGN))
        os.close(writing)
        self.assertEqual((result.returncode, result.stderr), (0, b""))

    def test_help_names_every_command(self):
        text = self.tool("--help")
        for command in ("show", "set-input PIN 0|1", "set-inputs BYTE", "fail OPERATION [COUNT] [CODE] [TEXT]",
                        "fail clear", "reset", "path", "watch [--count N] [--timeout SECONDS]"):
            self.assertIn(f"  {command}", text)
        self.assertEqual(self.tool("path"), self.state + "\n")

    def test_an_armed_failure_meets_the_next_run_at_its_count(self):
        self.tool("fail", "Marlek_DIOInputByte", "2", "9", "sensor off line")
        self.assertEqual(self.shown("Next run"),
                         ['Marlek_DIOInputByte fails on call 2 with code 9 "sensor off line"'])
        first = self.program("pinio", "1\n1\n\n1\nq\n")
        self.assertEqual(len(byte_tables(first)), 2)
        self.assertIn("Marlek_DIOInputByte error: unknown error code sensor off line\n", first)
        self.assertEqual(self.shown("Next run"), ["no failure armed"])
        self.assertEqual(len(byte_tables(self.program("pinio", "1\n1\nq\n"))), 2)  # the run after: none

    def test_an_armed_failure_without_a_count_fails_every_call_of_the_run(self):
        self.tool("fail", "Marlek_DIOInputBit")
        output = self.program("pinio", "2\n1\n\n2\n1\n\nq\n")
        self.assertEqual(output.count("Marlek_DIOInputBit error: injected failure failure armed by marlek-sim fail"), 2)

    def test_the_environment_takes_precedence(self):
        self.tool("fail", "Marlek_DIOInputByte", "all", "9", "sensor off line")
        self.tool("set-inputs", "0")
        # MARLEK_SIM_FAIL set, even to nothing: the armed failure waits for a later run.
        self.assertEqual(byte_tables(self.program("pinio", "1\nq\n", env={"MARLEK_SIM_FAIL": ""})),
                         [bits("0 0 0 0 0 0 0 0")])
        self.assertIn("sensor off line", self.shown("Next run")[0])
        # MARLEK_SIM_INPUTS stands for the external levels in its run only.
        output = self.program("pinio", "1\n\nq\n", env={"MARLEK_SIM_INPUTS": "0xA5"})
        self.assertIn("Marlek_DIOInputByte error: unknown error code sensor off line", output)
        self.assertEqual(byte_tables(self.program("pinio", "1\nq\n", env={"MARLEK_SIM_INPUTS": "0xA5"})),
                         [bits("1 0 1 0 0 1 0 1")])
        self.assertEqual(self.shown("EXT"), bits("0 0 0 0 0 0 0 0"))

    def test_four_failures_at_most_and_clear(self):
        for operation in ("Marlek_DIOInit", "Marlek_DIOFree", "MarlekLedConfig", "kvtGetErrorString"):
            self.tool("fail", operation, "1")
        self.tool("fail", "clear")
        for operation in ("Marlek_DIOInit", "Marlek_DIOFree", "MarlekLedConfig", "kvtGetErrorString"):
            self.tool("fail", operation, "010", "011")  # decimal, a leading zero too
        self.assertIn("4 failures are armed already; 'marlek-sim fail clear' disarms them",
                      self.tool("fail", "Marlek_DIOInputBit", status=1))
        self.assertEqual(self.tool("show").count("\nNext run:\t"), 4)
        self.assertIn("fails on call 10 with code 11", self.shown("Next run")[0])
        self.tool("fail", "clear")
        self.tool("fail", "Marlek_DIOInit", "1", "9", "_[2J two_lines")
        store_text(self.state, b"_[2J two_lines", b"\x1b[2J two\nlines")
        self.assertEqual(self.shown("Next run"), ['Marlek_DIOInit fails on call 1 with code 9 "\\x1b[2J two\\nlines"'])
        self.tool("fail", "clear")
        self.assertEqual(self.shown("Next run"), ["no failure armed"])


class ChangeLines:
    """The lines of a running marlek-sim watch, with their times checked and taken off."""

    def __init__(self, test, stream):
        self.test = test
        self.lines = queue.Queue()
        threading.Thread(target=self.collect, args=(stream,), daemon=True).start()

    def collect(self, stream):
        for line in iter(stream.readline, b""):
            self.lines.put(line)
        self.lines.put(None)

    def next(self, wait=TIMEOUT_SECONDS):
        """The next line without its time; None when none came within wait seconds or the watch ended."""
        try:
            line = self.lines.get(timeout=wait)
        except queue.Empty:
            return None
        if line is None:
            self.lines.put(None)
            return None
        stamped = re.fullmatch(r"\d\d:\d\d:\d\d\.\d{3} (.+)", line.decode().rstrip("\r\n"))
        self.test.assertIsNotNone(stamped, line)
        return stamped.group(1)

    def expect(self, expected):
        self.test.assertEqual([self.next() for _ in expected], expected)


def pins(field, change, numbers):
    return [f"pin {pin} {field} {change}" for pin in numbers]


class Watch(BoardCase):
    def watch(self, *args):
        process = subprocess.Popen([*EMULATOR, PROGRAMS["tool"], "watch", *args], stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=self.env)
        self.addCleanup(stop, process)
        return process, ChangeLines(self, process.stdout)

    def watching(self):
        """A watch that has taken its first look: it tells of a failure armed after it started."""
        process, lines = self.watch()
        for attempt in range(1, 60):
            self.tool("fail", "clear")
            self.tool("fail", "KVTGetLastError", str(attempt))
            while (line := lines.next(0.5)) is not None:
                if line.startswith(f"failures armed: KVTGetLastError call {attempt},"):
                    self.tool("fail", "clear")
                    lines.expect(["failures armed: none"])
                    return process, lines
        self.fail("the watch tells of no change")

    def test_each_program_changes_the_board_in_lines(self):
        self.tool("reset")
        process, lines = self.watching()
        # pinio's write byte step by step: the configuration as the choice is
        # made, then the byte (165: pins 7, 5, 2 and 0 released, high).
        pinio = subprocess.Popen([*EMULATOR, PROGRAMS["pinio"]], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                 env=self.env)
        self.addCleanup(stop, pinio)
        for answer, expected in [
                ("3\n", pins("direction", "input -> output, open-drain", range(8)) +
                 pins("level", "1 -> 0", range(8))),
                ("165\n", pins("drives", "0 -> 1", (0, 2, 5, 7)) + pins("level", "0 -> 1", (0, 2, 5, 7)))]:
            pinio.stdin.write(answer.encode())
            pinio.stdin.flush()
            lines.expect(expected)
        pinio.communicate(b"q\nq\n", timeout=TIMEOUT_SECONDS)
        steps = [
            (("pindrive", "3\n5\nq\n"), pins("direction", "output, open-drain -> input", range(8)) +
             ["pin 5 drive open-drain -> push-pull"] + pins("level", "0 -> 1", (1, 3, 4, 6))),
            (("uartmode", "5\n2\n2\nq\n"), ["UART 3 and 4 not set -> RS-422, ports 7 and 8"]),
            (("uartmode", "5\n2\n0\nq\n"), ["UART 3 and 4 RS-422 -> RS-232, ports 7 and 8"]),
            (("userled", "3\n1\n0\nq\n"), ["LED not set -> on, first COM port 3"]),
            (("userled", "3\n1\n1\nq\n"), ["LED on -> off, first COM port 3"]),
            (("userled", "4\n1\n1\nq\n"), ["LED off, first COM port 3 -> off, first COM port 4"]),
            (("fail", "Marlek_DIOInputByte", "2", "9", "sensor off line"),
             ['failures armed: Marlek_DIOInputByte call 2, code 9 "sensor off line"']),
            (("pinio", "q\n"), ["failures armed: none"]),  # taken by the run
            (("set-input", "2", "0"), ["pin 2 external level 1 -> 0", "pin 2 level 1 -> 0"]),
            (("reset",), ["board reset"]),
        ]
        for step, expected in steps:
            with self.subTest(step[0]):
                if step[0] in PROGRAMS:
                    self.program(*step)
                else:
                    self.tool(*step)
                lines.expect(expected)
        self.assertIsNone(lines.next(0.3))  # nothing else
        self.assertIsNone(process.poll())

    def test_count_and_timeout_end_the_watch_with_their_status(self):
        # (options, the board keeps changing, status, lines); each change gives two lines.
        cases = [(["--count", "1"], True, 0, 1), (["--count", "2", "--timeout", "100"], True, 0, 2),
                 (["--count", "1000", "--timeout", "2"], True, 1, None), (["--timeout", "2"], True, 0, None),
                 (["--timeout", "1.5"], False, 1, 0)]
        self.tool("set-input", "7", "0")  # pin 6 going back high leaves no fresh board, which is told as a reset
        for options, changing, status, count in cases:
            with self.subTest(options=options, changing=changing):
                began = time.monotonic()
                process, lines = self.watch(*options)
                level = 0
                while changing and process.poll() is None:
                    self.tool("set-input", "6", str(level))
                    level ^= 1
                    time.sleep(0.05)
                process.wait(timeout=TIMEOUT_SECONDS)
                told = []
                while (line := lines.next()) is not None:
                    told.append(line)
                self.assertEqual(process.returncode, status, process.stderr.read().decode())
                self.assertTrue(told if count is None else len(told) == count, told)
                self.assertTrue(all(re.fullmatch(r"pin 6 (external level|level) [01] -> [01]", line) for line in told))
                took = time.monotonic() - began
                self.assertLess(took, 60)  # --count ends it long before its timeout
                if status == 1:
                    self.assertGreaterEqual(took, float(options[-1]))

    def test_a_change_line_it_cannot_write_says_why(self):
        if WINDOWS:
            self.skipTest("/dev/full is Linux's")
        with open("/dev/full", "wb") as full:
            process = subprocess.Popen([*EMULATOR, PROGRAMS["tool"], "watch", "--timeout", "60"], stdout=full,
                                       stderr=subprocess.PIPE, env=self.env)
        self.addCleanup(stop, process)
        level = 0
        while process.poll() is None:
            self.tool("set-input", "6", str(level))
            level ^= 1
            time.sleep(0.05)
        self.assertEqual((process.returncode, process.stderr.read()),
                         (1, b"marlek-sim: cannot write the output: No space left on device\n"))

    def test_a_replaced_file_is_followed_and_an_unusable_one_ends_the_watch(self):
        process, lines = self.watching()
        other = os.path.join(self.work, "other.board")
        self.tool("set-input", "4", "0", env={"MARLEK_SIM_STATE": other})
        os.replace(other, self.state)  # as a reset of a refused file puts a new file in its place
        lines.expect(["pin 4 external level 1 -> 0", "pin 4 level 1 -> 0"])
        self.tool("fail", "Marlek_DIOInit", "1", "9", "two_lines")
        lines.expect(['failures armed: Marlek_DIOInit call 1, code 9 "two_lines"'])
        store_text(self.state, b"two_lines", b"two\nlines")  # told escaped, on one line
        lines.expect(['failures armed: Marlek_DIOInit call 1, code 9 "two\\nlines"'])
        os.remove(self.state)
        self.assertIsNone(lines.next(0.3))
        self.assertFalse(os.path.exists(self.state))  # a watch only reads
        # A new board, told against the last one. Made elsewhere and moved in
        # whole: made in place, a fresh board shows for a moment before its
        # input is set, which a watch may tell as a reset.
        self.tool("set-input", "4", "0", env={"MARLEK_SIM_STATE": other})
        os.replace(other, self.state)
        lines.expect(["failures armed: none"])

        def other_version():
            with open(self.state, "r+b") as file:
                data = set_version(bytearray(file.read()))
                file.seek(0)
                file.write(data)

        for damage, said in [(other_version, "holds board state of version 7"),
                             (lambda: os.truncate(self.state, 0), "is truncated (0 of 1152 bytes)")]:
            with self.subTest(said):
                if process is None:
                    self.tool("reset")
                    process, lines = self.watching()
                damage()
                _, errors = process.communicate(timeout=TIMEOUT_SECONDS)
                self.assertEqual(process.returncode, 1)
                self.assertIn(f"unusable: {self.state} {said}", errors.decode())
                process = None

    def test_a_quiet_board_costs_next_to_no_processor_time(self):
        if WINDOWS:
            self.skipTest("the processor time of a process under Wine is Wine's")
        import resource
        self.tool("reset")

        def watch(timeout):
            """The processor and wall time of a watch that ends at its timeout on a quiet board."""
            before = resource.getrusage(resource.RUSAGE_CHILDREN)
            began = time.monotonic()
            result = self.run_program("tool", "watch", "--timeout", timeout)
            took = time.monotonic() - began
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
            self.assertEqual((result.returncode, result.stdout, result.stderr), (1, b"", b""))
            return after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime, took

        # The start and the first look, slow under an emulator, are measured
        # alone and taken off: what is left is the cost of 4 s of waiting, a
        # small share of one processor however fast it is (a watch that spins
        # takes all it gets).
        start_used, start_took = watch("0.001")
        used, took = watch("4")
        share = (used - start_used) / (took - start_took)
        self.assertLess(share, 0.05, f"{used:.3f} s of processor time in {took:.3f} s, {start_used:.3f} s to start")

    def test_the_live_view_on_a_terminal(self):
        if WINDOWS:
            self.skipTest("the live view is tested on a Linux terminal")
        import fcntl
        import pty
        import struct
        import termios

        def resize(rows, columns):
            fcntl.ioctl(side, termios.TIOCSWINSZ, struct.pack("HHHH", rows, columns, 0, 0))

        def shows(pattern):
            deadline = time.monotonic() + 20
            while not re.search(pattern, screen):
                self.assertLess(time.monotonic(), deadline, f"no {pattern!r} in {bytes(screen)!r}")
                if select.select([terminal], [], [], 0.1)[0]:
                    screen.extend(os.read(terminal, 65536))

        self.state = os.path.join(self.work, "b\x1b]0;owned\x07")  # shown in the title line, escaped
        self.env["MARLEK_SIM_STATE"] = self.state
        terminal, side = pty.openpty()
        self.addCleanup(os.close, terminal)
        self.addCleanup(os.close, side)
        resize(30, 100)
        before = termios.tcgetattr(side)
        process = subprocess.Popen([*EMULATOR, PROGRAMS["tool"], "watch"], stdin=side, stdout=side, stderr=side, env=self.env)
        self.addCleanup(stop, process)
        screen = bytearray()
        shows(rb"DATA:(\t1){8}\r\n")
        self.assertIn(b"marlek-sim watch  " + os.path.join(self.work, "b\\x1b]0;owned\\x07").encode(), screen)
        self.assertEqual(termios.tcgetattr(side)[3] & (termios.ICANON | termios.ECHO), 0)  # keys without Enter
        self.program("pinio", "3\n165\nq\nq\n")
        # The newest change marked: the last level line of pinio's write, or of its configuration.
        shows(rb"OUT:\t1\t0\t1\t0\t0\t1\t0\t1\r\n(.|\n)*> \d\d:\d\d:\d\d\.\d{3} pin [67] level")
        resize(12, 40)
        shows(rb"the window is too small")
        resize(30, 100)
        del screen[:]
        shows(rb"DATA:\t1\t0\t1\t0\t0\t1\t0\t1\r\n")
        os.write(terminal, b"q")
        self.assertEqual(process.wait(timeout=TIMEOUT_SECONDS), 0)
        shows(rb"\x1b\[\?25h\x1b\[\?1049l$")  # the cursor shown, the screen as it was
        self.assertNotIn(b"\x1b]0;", screen)
        self.assertEqual(termios.tcgetattr(side), before)


def main():
    parser = argparse.ArgumentParser()
    for name in ("tool", "hammer", "pinio", "pindrive", "userled", "uartmode"):
        parser.add_argument(f"--{name}", required=True)
    parser.add_argument("--emulator", nargs="+", default=[])
    args, rest = parser.parse_known_args()
    global WINDOWS
    EMULATOR.extend(args.emulator)
    del args.emulator
    WINDOWS = args.tool.endswith(".exe")
    skip_what_qemu_user_cannot_run(EMULATOR, globals())
    PROGRAMS.update(vars(args))
    unittest.main(argv=[sys.argv[0], *rest])


if __name__ == "__main__":
    main()
