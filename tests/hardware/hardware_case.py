"""A case run in the guest on the simulated GPIO chips and LED of a real kernel.

The command, the setup lines and the checks are guest shell lines, with the
four programs and marlek-board on PATH and the helpers of guest/fixture.sh
(chip_device, sim_dir, line_value, bank_values, set_pull, set_pulls, line_info,
chip_label, led_brightness, led_log, as_user, extra_chip) defined."""
from dataclasses import dataclass, field


@dataclass
class Case:
    name: str
    command: str                 # e.g. "pinio", or "as_user 1000 pinio"
    stdin: str = ""              # or a list of input texts and (command, expected output) checks:
    #                              each check runs while the program waits for input after the text before it
    stdout: str = None           # the exact bytes expected; None: not compared
    status: int = 0
    board: str = None            # a board description, in a file named by MARLEK_BOARD
    setup: list = field(default_factory=list)   # run as root before the command; must succeed
    checks: list = field(default_factory=list)  # (command, expected output) after the run
    env: dict = field(default_factory=dict)
    stderr: str = None           # None: not compared, shown when the case fails
    arch: str = "amd64"          # the guest: amd64 with the fixture, or arm64 without one
    seconds: int = 20            # how long the command may run before it is killed


# The environment of a program with the preloaded stand-in of guest-shim.c in
# one of its modes: old-kernel, take-lines, low-fds.
def shim(mode):
    return {"LD_PRELOAD": "/opt/marlek/shim/guest-shim.so", "MARLEK_SHIM": mode}


# The environment of a program on the simulated board library in memory.
SIM_LIBRARY = {"LD_LIBRARY_PATH": "/opt/marlek/sim", "MARLEK_SIM_STATE": "memory"}
