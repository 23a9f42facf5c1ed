"""The board service: one board that every program shares, whose settings
stay when a program ends, as gpio-sim shows (it gives a released line its pull
at once); abusive clients that change nothing; a restart that gives the board
back; and the programs' dialogues through the service."""
from dialogue_case import DIO_INIT_FAILED
from hardware_case import Case
from linux_board import BOARD, BOARD_PATH, CASES as DIRECT_CASES, DIO_PINS
from pindrive import ALL_PUSH_PULL, pindrive
from pinio import VALUE_PROMPT, pinio, sent, table
from uartmode import changed, uartmode
from userled import ACCESSED, userled

SOCKET = "/run/marlek-board/board.sock"
START = "service_start"
MEMBER = "1000,$(group_id gpio)"
LED_LINE = "led line marlek-ctl LED_GPIO active-low\n"
SERVICE = "board service not reachable"


def init_failed(text, detail):
    return f"Marlek_DIOInit: {text} {detail}\n" + DIO_INIT_FAILED


def refusal(what):
    """What guest-tool send reads of the service's refusal: the answer, then the close."""
    text = f"the board service at {SOCKET} refused {what} from this program"
    return f"closed after {8 + 3 + len(text)} bytes"


FULL = init_failed(SERVICE, f"the board service at {SOCKET} serves 64 programs already; end one of them, or try "
                            "again later")
# The byte a first pinio drives, and what a second one reads meanwhile.
WRITING = ["3\n165\n", ("printf '1\\nq\\n' | pinio | grep DATA:", "DATA:\t1\t0\t1\t0\t0\t1\t0\t1")]

CASES = [
    # What a program sets stays when it ends: the pins, the mode lines, the LED's line.
    Case("pins_kept", "pinio", "3\n165\nq\nq\n", pinio(sent(165) + VALUE_PROMPT), board=BOARD,
         setup=["set_pulls 0 0xFF", START], checks=[("bank_values 0", "1 0 1 0 0 1 0 1"),
                                                    ("line_info 0 2", "2 DIO2 marlek-boardd used,output,open-drain")]),
    Case("mode_lines_kept", "uartmode", "5\n1\n1\n2\n2\nq\n", uartmode(changed(1, 1), changed(2, 2)), board=BOARD,
         setup=[START], checks=[("bank_values 1", "0 1 1 0 0 0 0 1")]),
    Case("led_line_kept", "userled", "3\n1\n0\nq\n", userled(ACCESSED), board=LED_LINE, setup=[START],
         checks=[("line_value 1 4", "0"), ("line_info 1 4", "4 LED_GPIO marlek-boardd used,output,active-low")]),
    # Two programs at once: a second pinio reads what the first drives, and
    # pindrive makes the pins inputs while pinio sits in its write loop.
    Case("two_programs", "pinio",
         WRITING + [("printf '1\\nq\\n' | pindrive > /dev/null; line_info 0 0", "0 DIO0 marlek-boardd used,input,edge-rising,edge-falling"),
                    "q\nq\n"],
         pinio(sent(165) + VALUE_PROMPT), board=BOARD, setup=["set_pulls 0 0xFF", START]),
    # A description edited while the service runs is taken when the next
    # program starts: what it still names alike keeps its state.
    Case("description_changed", "pinio", "3\n165\nq\nq\n", pinio(sent(165) + VALUE_PROMPT), board=BOARD,
         setup=["set_pulls 0 0xFF", START],
         checks=[(f"sed -i 's/^pin 7 .*/pin 7 marlek-ctl SPARE5/' {BOARD_PATH} && printf '1\\nq\\n' | pinio | "
                  "grep DATA:", "DATA:\t0\t0\t1\t0\t0\t1\t0\t1"),
                 ("bank_values 0", "1 0 1 0 0 1 0 1"), ("line_info 0 7", "7 DIO7 - output"),
                 ("line_info 1 5", "5 SPARE5 marlek-boardd used,input,edge-rising,edge-falling")]),
    # One that does not check leaves the board as it was, and every program is told.
    Case("description_broken", "pinio", "3\n165\nq\nq\n", pinio(sent(165) + VALUE_PROMPT), board=BOARD,
         setup=["set_pulls 0 0xFF", START],
         checks=[(f"echo 'pin 9 marlek-dio 0' >> {BOARD_PATH} && printf 'q\\n' | pinio",
                  init_failed("board description unusable",
                              f"{BOARD_PATH}:{BOARD.count(chr(10)) + 1}: \"9\" is not a pin: the pins are 0 to 7; the board service keeps the "
                              "board as its last good description left it until this is mended (marlek-board checks "
                              "the file)")),
                 ("bank_values 0", "1 0 1 0 0 1 0 1")]),
    # Killed and started again within the boot: the board comes back from the
    # state file before any program connects.
    Case("restart_restores", "pinio", "3\n165\nq\nq\n", pinio(sent(165) + VALUE_PROMPT), board=BOARD,
         setup=["set_pulls 0 0xFF", START],
         checks=[("state_holds 'pins 1 255 0 165' && service_stop KILL; bank_values 0", "1 1 1 1 1 1 1 1"),
                 (f"{START}; bank_values 0", "1 0 1 0 0 1 0 1"),
                 ("line_info 0 0", "0 DIO0 marlek-boardd used,output,open-drain")]),
    # Clients that break the protocol change nothing and take nothing from the others.
    Case("half_message", f"guest-tool send {SOCKET} 4d420102 3 & pinio; wait", "1\nq\n",
         pinio(table("1 1 1 1 1 1 1 1")) + "closed after 0 bytes\n", board=BOARD, setup=["set_pulls 0 0xFF", START]),
    Case("garbage", f"guest-tool send {SOCKET} 474554202f 3", stdout=refusal(
        "not a message of the board service's protocol") + "\n", board=BOARD, setup=[START],
         checks=[("printf '1\\nq\\n' | pinio | grep DATA:", "DATA:\t0\t0\t0\t0\t0\t0\t0\t0")]),
    Case("too_long", f"guest-tool send {SOCKET} 4d42010200000100 3", stdout=refusal(
        "a message longer than the protocol allows") + "\n", board=BOARD, setup=[START]),
    Case("killed_mid_call", f"guest-tool send {SOCKET} 4d4201020800000006a5 9 & sleep 0.3; kill -9 $!; pinio",
         "1\nq\n", pinio(table("1 1 1 1 1 1 1 1")), board=BOARD, setup=["set_pulls 0 0xFF", START],
         checks=[("bank_values 0", "1 1 1 1 1 1 1 1")]),
    Case("full", "pinio", "q\n", FULL, status=1, board=BOARD,
         setup=[START, f"guest-tool hold {SOCKET} 100 15 > /tmp/held &",
                "i=0; until grep -q connections /tmp/held || [ $i -gt 250 ]; do sleep 0.02; i=$((i+1)); done"],
         checks=[("cat /tmp/held", "100 connections")]),
    # The socket refuses a user outside its group; a member is served.
    Case("outsider_refused", "as_user 1000 pinio", "q\n",
         init_failed("permission denied", f"cannot connect to the board service at {SOCKET}: Permission denied; join "
                     f"the group that owns it (ls -l {SOCKET}; on Debian, gpio: sudo adduser USER gpio, then log in "
                     "again), or run as root"), status=1, board=BOARD, setup=[START],
         checks=[(f"stat -c '%a %G' {SOCKET}", "660 gpio")]),
    # The service itself needs no more than its groups: as a user in gpio,
    # on the chips udev gives the group.
    Case("service_as_member", f"as_user {MEMBER} pinio", "3\n165\nq\nq\n", pinio(sent(165) + VALUE_PROMPT),
         board=BOARD, setup=["set_pulls 0 0xFF", "udev_start", f"{START} 999,$(group_id gpio)"],
         checks=[("bank_values 0", "1 0 1 0 0 1 0 1")]),
    # marlek-board says the service runs, checks the description it holds, and
    # takes the lines it holds for the programs' (its pid and the time it read
    # the description are masked).
    Case("check_through_service", "marlek-board | sed 's/pid [0-9]*/pid N/; s/read [-0-9: ]*$/read T/'",
         stdout=f"board description {BOARD_PATH}\nservice  runs at {SOCKET} (pid N, 1 connection), holding the board "
                "as this file describes it, read T\n" + "".join(
                    f"pin {pin}    line {pin} \"DIO{pin}\" of gpiochip0 \"marlek-dio\" (/dev/gpiochip0): input, held by "
                    "\"marlek-boardd\"\n" for pin in range(8)) + "led      not described: userled cannot switch it\n"
                "uart12   not described: uartmode cannot switch UART 1 and 2\n"
                "uart34   not described: uartmode cannot switch UART 3 and 4\n",
         board=DIO_PINS, setup=[START, "printf 'q\\n' | pinio > /dev/null"]),
    # marlek-board names a service that cannot be reached as a problem.
    Case("check_service_stopped", "marlek-board | head -2", stdout=(
        f"board description {BOARD_PATH}\nservice  problem: {SERVICE}: the board service does not answer at "
        f"{SOCKET} (Connection refused): it is not running; start it (sudo systemctl start marlek-board.socket) and "
        "see why it stopped (journalctl -u marlek-board)\n"), board=DIO_PINS, setup=[START, "service_stop KILL"]),
    # A service that has stopped, with its socket left behind.
    Case("service_stopped", "pinio", "q\n",
         init_failed(SERVICE, f"the board service does not answer at {SOCKET} (Connection refused): it is not "
                     "running; start it (sudo systemctl start marlek-board.socket) and see why it stopped "
                     "(journalctl -u marlek-board)"), status=1, board=BOARD, setup=[START, "service_stop KILL"]),
]

# The programs' dialogues through the service, as they are without it: the
# console and the kernel's side while the program runs (after it, the service
# keeps what it set).
THROUGH = ["read_byte_pulls", "read_bits", "write_byte_open_drain_pulled_up", "write_byte_open_drain_pulled_down",
           "pins_on_two_chips", "led_class", "mode_lines", "tty_without_rs485", "line_busy", "chip_missing",
           "line_missing", "description_malformed", "led_missing", "mode_line_busy"]


def held_by_service(item):
    """A check while the program runs, with the service's name for the lines' consumer."""
    if isinstance(item, str):
        return item
    command, expected = item
    return command, expected.replace(" marlek used", " marlek-boardd used")


for case in DIRECT_CASES:
    if case.name in THROUGH:
        stdin = case.stdin if isinstance(case.stdin, str) else [held_by_service(item) for item in case.stdin]
        CASES.append(Case(f"through_{case.name}", case.command, stdin, case.stdout, case.status, case.board,
                          case.setup + [START], [], case.env))
