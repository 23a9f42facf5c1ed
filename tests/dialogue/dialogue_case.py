"""A dialogue case, and the pieces of dialogue and trace that cases share."""
import os
import re
from dataclasses import dataclass, field


@dataclass
class Case:
    name: str
    stdin: str
    stdout: str  # or a compiled pattern that the whole output must match
    trace: list = None  # the expected library calls, one line each; None: not compared
    status: int = 0
    env: dict = field(default_factory=dict)
    args: list = field(default_factory=list)  # the program's arguments
    stderr: str = ""
    stdout_to: str = None  # a file standard output goes to instead, such as /dev/full; then stdout is ""


MENU_RULE = "#" * 56 + "\n"
INVALID_OPTION = "Please Enter valid option \r\n"
PIN_REFUSED = "\nEnter the proper GPIO Number:(0-7) \n"
PRESS_ENTER = "Press enter to quit\n"
INJECTED = "failure injected by MARLEK_SIM_FAIL"


def board_environment(**env):
    """The environment of a program run on a simulated board of its own, in
    memory: none of the caller's MARLEK_SIM_ settings, then the given ones."""
    environment = {key: value for key, value in os.environ.items() if not key.startswith("MARLEK_SIM_")}
    environment["MARLEK_SIM_STATE"] = "memory"
    environment.update(env)
    return environment


def fail(operation, call=None, code=None, text=None):
    """A MARLEK_SIM_FAIL entry."""
    entry = operation + (f"@{call}" if call else "")
    if code is not None:
        entry += f":{code}"
        if text is not None:
            entry += f":{text}"
    return entry


def failing(*entries, **env):
    """The environment of a case with the given failures injected."""
    return {"MARLEK_SIM_FAIL": ";".join(entries), **env}


ERROR_TEXTS = {
    1: "digital I/O not initialised",
    3: "pin out of range",
    4: "invalid argument",
    5: "injected failure",
    6: "no such device",
    7: "simulator setting invalid",
}


def error_calls(code=5, detail=INJECTED):
    """The two calls with which a program fetches the error of a failed call."""
    text = ERROR_TEXTS.get(code, "unknown error code")
    return [f'KVTGetLastError(-> {code}, "{detail}") = 0', f'kvtGetErrorString({code}) = "{text}"']


def report(prefix, code=5, detail=INJECTED):
    """The report line of a failed call."""
    return f"{prefix}{ERROR_TEXTS.get(code, 'unknown error code')} {detail}\n"


# The digital I/O frame shared by pinio and pindrive.
DIO_BANNER = "\nMarlek DIO FUNCTIONS DEMO\n"
DIO_COMPLETED = "\nMARLEKDIOFUNCTION completed.\n"
DIO_INIT_FAILED = "\nMarlek DIO Test V1.0 completed : FAILED\n"
INIT = "Marlek_DIOInit() = 0"
FREE = "Marlek_DIOFree() = 0"


def dio_menu(items):
    return MENU_RULE + "".join(items) + "q) Quit Program \n" + MENU_RULE


def dio_dialogue(title, menu, *passes, end=DIO_COMPLETED):
    """The output of a digital I/O program: banner and title, the menu, and after
    each pass through an operation the menu again, then the closing line."""
    return DIO_BANNER + title + menu + "".join(out + menu for out in passes) + end


# The command line, alike in every program: --help and --version alone are
# answered and anything else is refused, without a library call and without
# the dialogue (whose first answer each case offers). @PROJECT_VERSION@ is
# the build's version.
def argument_cases(program):
    usage = re.compile(rf"Usage: {program}\n       {program} --help \| --version\n.+\n  --help .+\n  --version .+\n"
                       rf"(The manual: man {program}|More in README\.txt, .+)\n", re.DOTALL)
    refusal = f"; {program} takes no arguments ({program} --help)\n"
    return [
        Case("arguments_help", "q\n", usage, [], args=["--help"]),
        Case("arguments_version", "q\n", f"{program} (Marlek board tools) @PROJECT_VERSION@\n", [], args=["--version"]),
        Case("arguments_unknown", "q\n", "", [], status=2, args=["-h"],
             stderr=f"{program}: unknown argument '-h'" + refusal),
        Case("arguments_two", "q\n", "", [], status=2, args=["--help", "--version"],
             stderr=f"{program}: too many arguments: '--help' and 1 more" + refusal),
        # What would act on the terminal, or break the line, is written as escapes.
        Case("arguments_escaped", "q\n", "", [], status=2, args=["\x1b[2J\tx\n"],
             stderr=f"{program}: unknown argument '\\x1b[2J\\tx\\n'" + refusal),
        Case("arguments_help_unwritten", "q\n", "", [], status=1, args=["--help"], stdout_to="/dev/full",
             stderr=f"{program}: cannot write the usage: No space left on device\n"),
    ]
