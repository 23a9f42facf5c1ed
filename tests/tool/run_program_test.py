#!/usr/bin/env python3
"""marlek-sim run and --version as an operator meets them: a program started on
the simulated board with its arguments whole, the simulated library's folder
first on the loader's path, the program's exit status passed on, and each
failure to start it told apart.

  run_program_test.py --tool PATH --pinio PATH --print-args PATH --library PATH
                      --version VERSION [--emulator CMD...] [unittest arguments]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from qemu_user import skip_what_qemu_user_cannot_run, under_qemu_user  # noqa: E402

ARGS = None
EMULATOR = []  # what runs the programs: Wine for the Windows build, qemu-user for the arm64 build
WINDOWS = False
# What marlek-sim run is given before a program of the build. Under qemu-user
# that is the emulator, a program of this machine's that the kernel starts
# for it; under Wine a Windows program starts Windows programs itself.
STARTS = []
TIMEOUT_SECONDS = 120


def windows_path(path):
    """A POSIX path as a Windows program under Wine sees it, on drive Z:."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def posix_path(path):
    return path[2:].replace("\\", "/") if path[:2].upper() == "Z:" else path


class RunProgram(unittest.TestCase):
    def run_tool(self, *args, stdin="", env=None):
        base = {key: value for key, value in os.environ.items()
                if not key.startswith("MARLEK_SIM_") and key not in ("LD_LIBRARY_PATH", "WINEPATH")}
        base["MARLEK_SIM_STATE"] = "memory"
        result = subprocess.run([*EMULATOR, ARGS.tool, *args], input=stdin.encode(), capture_output=True,
                                env={**base, **(env or {})}, timeout=TIMEOUT_SECONDS)
        return result.returncode, result.stdout.decode().replace("\r\n", "\n"), result.stderr.decode()

    def printed(self, output, label):
        return [line[len(label):] for line in output.splitlines() if line.startswith(label)]

    def test_runs_a_program_on_the_simulated_board(self):
        cases = [
            # (environment, answers, exit status, what the output holds)
            ({"MARLEK_SIM_INPUTS": "0xA5"}, "1\nq\n", 0, "DATA:\t1\t0\t1\t0\t0\t1\t0\t1"),
            ({"MARLEK_SIM_FAIL": "Marlek_DIOInit"}, "q\n", 1, "Marlek DIO Test V1.0 completed : FAILED"),
        ]
        for env, answers, status, shown in cases:
            with self.subTest(env=env):
                code, out, err = self.run_tool("run", *STARTS, ARGS.pinio, stdin=answers, env=env)
                self.assertEqual(code, status, err)
                self.assertIn(shown, out)

    def test_arguments_arrive_whole_and_the_status_comes_back(self):
        arguments = ["plain", "two words", 'a "quoted" word', "back\\slash\\", "", "tab\there", "-h"]
        code, out, err = self.run_tool("run", *STARTS, ARGS.print_args, *arguments)
        self.assertEqual(code, len(arguments), err)
        self.assertEqual(self.printed(out, "arg:"), arguments)

    def test_the_simulated_library_comes_first_on_the_loader_path(self):
        folder = os.path.dirname(os.path.realpath(ARGS.library))
        if WINDOWS:
            # Under Wine the program's PATH is the system's, then WINEPATH.
            code, out, err = self.run_tool("run", ARGS.print_args, env={"WINEPATH": windows_path("/elsewhere")})
            entries = [posix_path(entry) for entry in self.printed(out, "path:")[0].split(";")]
            self.assertEqual(entries[0], folder, err)
            self.assertIn("/elsewhere", entries[1:])
            return
        # Nothing is lost from it, and no empty entry, which would stand for
        # the working folder, is added.
        cases = [("/elsewhere", folder + ":/elsewhere"), (None, folder), ("", folder)]
        for before, after in cases:
            with self.subTest(before=before):
                env = {} if before is None else {"LD_LIBRARY_PATH": before}
                code, out, err = self.run_tool("run", *STARTS, ARGS.print_args, env=env)
                self.assertEqual(self.printed(out, "path:"), [after], err)

    def test_a_name_is_looked_up_on_path(self):
        folder = os.path.dirname(os.path.abspath(ARGS.print_args))
        name = os.path.basename(ARGS.print_args)
        if WINDOWS:
            env = {"WINEPATH": windows_path(folder)}
            name = name[:-len(".exe")]  # as it would be typed
        else:
            env = {"PATH": folder + os.pathsep + os.environ.get("PATH", "")}
        code, out, err = self.run_tool("run", name, "x", env=env)
        self.assertEqual((code, self.printed(out, "arg:")), (1, ["x"]), err)

    def test_failures_to_start_are_told_apart(self):
        with tempfile.TemporaryDirectory() as work:
            alone = shutil.copy(ARGS.tool, work)  # without the simulated library beside it
            text_file = os.path.join(work, "notes.txt")
            with open(text_file, "w") as file:
                file.write("not a program\n")
            cases = [
                # (command, exit status, what the message says)
                ([ARGS.tool, "run"], 2, "run takes PROGRAM"),
                ([ARGS.tool, "run", "no-such-program-anywhere"], 127, "no program no-such-program-anywhere"),
                ([alone, "run", ARGS.pinio], 126, "no simulated board library"),
            ]
            if not WINDOWS:
                script = os.path.join(work, "script")
                with open(script, "w") as file:
                    file.write("#!/no/such/interpreter -x\n")
                os.chmod(script, 0o755)
                cases.append(([ARGS.tool, "run", text_file], 126, "cannot run " + text_file))
                cases.append(([ARGS.tool, "run", script], 126, "its interpreter /no/such/interpreter is missing"))
                saved_on_windows = os.path.join(work, "saved-on-windows")
                with open(saved_on_windows, "w", newline="") as file:
                    file.write("#!/bin/sh\r\necho hello\r\n")
                os.chmod(saved_on_windows, 0o755)
                cases.append(([ARGS.tool, "run", saved_on_windows], 126,
                              "its #! line ends in a carriage return (\\r), which the system takes for part of the "
                              "interpreter's name (/bin/sh\\r): the file was saved with Windows line ends; convert it "
                              f"(dos2unix {saved_on_windows})"))
            for command, status, said in cases:
                with self.subTest(command=command[1:]):
                    result = subprocess.run([*EMULATOR, *command], capture_output=True, timeout=TIMEOUT_SECONDS,
                                            env={**os.environ, "MARLEK_SIM_STATE": "memory"})
                    self.assertEqual(result.returncode, status, result.stderr)
                    self.assertIn(said, result.stderr.decode())
                    self.assertEqual(result.stdout, b"")

    def test_version(self):
        self.assertEqual(self.run_tool("--version"), (0, f"marlek-sim (Marlek board tools) {ARGS.version}\n", ""))


def main():
    global ARGS, EMULATOR, WINDOWS, STARTS
    parser = argparse.ArgumentParser()
    for option in ("--tool", "--pinio", "--print-args", "--library", "--version"):
        parser.add_argument(option, required=True)
    parser.add_argument("--emulator", nargs="+", default=[])
    ARGS, rest = parser.parse_known_args()
    EMULATOR = ARGS.emulator
    WINDOWS = ARGS.tool.endswith(".exe")
    if under_qemu_user(EMULATOR):
        STARTS = EMULATOR
    skip_what_qemu_user_cannot_run(EMULATOR, globals())
    unittest.main(argv=[sys.argv[0], *rest])


if __name__ == "__main__":
    main()
