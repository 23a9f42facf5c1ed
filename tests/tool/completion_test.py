#!/usr/bin/env python3
"""The bash completion of marlek-sim: what it offers at each place, and that it
knows every command that marlek-sim --help lists and every operation that
marlek-sim fail takes.

  completion_test.py --completion FILE --tool PATH [--emulator CMD...]
"""
import argparse
import os
import re
import shlex
import subprocess
import sys
import tempfile

OPERATION = re.compile(r"\b(?:Marlek_DIO\w+|Marlek\w+Config|KVTGetLastError|kvtGetErrorString)\b")


def offered(completion, words, path):
    """What the completion offers for the last of the words, as bash would ask."""
    script = (f"source {shlex.quote(completion)}; COMP_WORDS=({' '.join(shlex.quote(word) for word in words)}); "
              f"COMP_CWORD={len(words) - 1}; _marlek_sim; printf '%s\\n' \"${{COMPREPLY[@]}}\"")
    result = subprocess.run(["bash", "--norc", "-c", script], capture_output=True, text=True, check=True,
                            env={**os.environ, "PATH": path})
    return sorted(set(result.stdout.split()))


def tool_commands(tool_command):
    """The first word of each command in the commands section of --help."""
    usage = subprocess.run([*tool_command, "--help"], capture_output=True, text=True, check=True).stdout
    section = usage.split("commands:\n", 1)[1].split("\n\n", 1)[0]
    return sorted({line.split()[0] for line in section.splitlines() if re.match(r"^  \S", line)})


def tool_operations(tool_command):
    with tempfile.TemporaryDirectory() as work:
        env = {**os.environ, "MARLEK_SIM_STATE": os.path.join(work, "board")}
        refused = subprocess.run([*tool_command, "fail", "no-such-operation"], capture_output=True, text=True, env=env)
    return sorted(set(OPERATION.findall(refused.stderr)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--completion", required=True)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--emulator", nargs=argparse.REMAINDER, default=[])
    args = parser.parse_args()
    commands = tool_commands([*args.emulator, args.tool])
    operations = tool_operations([*args.emulator, args.tool])
    if len(operations) != 11:
        print(f"cannot read the operations from marlek-sim fail: {operations}")
        return 1
    path = os.path.dirname(os.path.abspath(args.tool)) + os.pathsep + os.environ.get("PATH", "")
    cases = [
        (["marlek-sim", ""], commands),
        (["marlek-sim", "set-i"], ["set-input", "set-inputs"]),
        (["marlek-sim", "fail", ""], sorted(["clear", *operations])),
        (["marlek-sim", "fail", "Marlek_DIOI"], ["Marlek_DIOInit", "Marlek_DIOInputBit", "Marlek_DIOInputByte"]),
        (["marlek-sim", "fail", "MarlekLedConfig", ""], ["all"]),
        (["marlek-sim", "fail", "clear", ""], []),
        (["marlek-sim", "set-input", ""], [str(pin) for pin in range(8)]),
        (["marlek-sim", "set-input", "3", ""], ["0", "1"]),
        (["marlek-sim", "run", "marlek-si"], ["marlek-sim"]),
    ]
    failures = 0
    for words, expected in cases:
        got = offered(args.completion, words, path)
        if got != expected:
            print(f"{' '.join(words)!r}: offered {got}, expected {expected}")
            failures += 1
    print(f"{len(cases) - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
