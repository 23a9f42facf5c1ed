"""A dialogue case, and the pieces of dialogue and trace that cases share."""
import os
from dataclasses import dataclass, field


@dataclass
class Case:
    name: str
    stdin: str
    stdout: str
    trace: list = None  # the expected library calls, one line each; None: not compared
    status: int = 0
    env: dict = field(default_factory=dict)


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
