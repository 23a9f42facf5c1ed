"""The kernel's RS-485 mode on a real driver: uartmode on the arm64 tree, in an
arm64 guest whose PL011 (ttyAMA0) has an RS-485 mode and whose console's 8250
(ttyS0) has none. After each switch the kernel reads the mode back.

The first cases need the PL011 as it booted: RTS_ON_SEND set with RS-485
off, which any write of the setting clears (Linux 6.1), so that they tell
that marlek-board only reads. They run before the first switch."""
from hardware_case import Case
from uartmode import MODE_PROMPT, changed, uartmode

BOARD_PATH = "/tmp/case/board.conf"
# What marlek-board says where the board service does not run.
NO_SERVICE = "service  not running (no /run/marlek-board/board.sock): each program drives the kernel itself\n"
PL011 = "uart12 tty1 ttyAMA0\nuart12 rs485-delays 2 3\n"
LONG_DELAYS = "uart12 tty1 ttyAMA0\nuart12 rs485-delays 150 100\n"


def kernel_mode(enabled, delays="2 3"):
    return ("guest-tool rs485 /dev/ttyAMA0", f"enabled {enabled} rts-on-send {enabled} delays {delays}")


UNCHANGED = ": modem lines and RS-485 unchanged\n"
AS_BOOTED = ("guest-tool rs485 /dev/ttyAMA0", "enabled 0 rts-on-send 1 delays 0 0")
CHECK_MAP = (f"board description {BOARD_PATH}\n" + NO_SERVICE + f"pins     not described: the digital I/O cannot be opened\n"
             "led      not described: userled cannot switch it\nuart12   tty1 /dev/ttyAMA0: RS-485 off\n")

CASES = [
    # The listing and the draft open no port; the check opens the ttys the
    # description names and only reads them; --probe opens its port alone.
    Case("list_and_draft_leave_ports",
         "guest-tool watch-ports /dev/ttyAMA0 /dev/ttyS0 -- sh -c '{ marlek-board --list; marlek-board --draft; } "
         "> /dev/null'", stdout="/dev/ttyAMA0" + UNCHANGED + "/dev/ttyS0" + UNCHANGED, arch="arm64"),
    Case("check_reads_only", "guest-tool watch-ports /dev/ttyS0 -- marlek-board", stdout=(
        CHECK_MAP + "uart34   not described: uartmode cannot switch UART 3 and 4\n/dev/ttyS0" + UNCHANGED),
        board=PL011, checks=[AS_BOOTED], arch="arm64"),
    Case("probe_reads_only", "guest-tool watch-ports /dev/ttyS0 -- marlek-board --probe ttyAMA0",
         stdout="/dev/ttyAMA0: RS-485 off\n/dev/ttyS0" + UNCHANGED, checks=[AS_BOOTED], arch="arm64"),
    # RS-485, RS-232, RS-485, RS-422: on only for RS-485, RTS high on send, with
    # the description's delays.
    Case("pl011_switches", "uartmode",
         ["5\n", AS_BOOTED,
          "1\n1\n", kernel_mode(1), "1\n0\n", ("guest-tool rs485 /dev/ttyAMA0 | cut -d' ' -f1,2", "enabled 0"),
          "1\n1\n", kernel_mode(1), "1\n2\n", ("guest-tool rs485 /dev/ttyAMA0 | cut -d' ' -f1,2", "enabled 0"),
          "q\n"],
         uartmode(changed(1, 1), changed(1, 0), changed(1, 1), changed(1, 2)), board=PL011, arch="arm64"),
    # The 8250 has no RS-485 mode: RS-485 is refused with the port named, and
    # RS-232 asks nothing of it.
    Case("8250_refuses", "uartmode", "5\n2\n1\n\n2\n0\nq\n",
         uartmode(MODE_PROMPT + "MarlekSerialConfig error: serial port mode not switched "
                  f"{BOARD_PATH}:1: uart34 tty1: /dev/ttyS0 cannot switch to RS-485: its driver has no RS-485 mode "
                  "(TIOCSRS485: Inappropriate ioctl for device); the pair has no mode lines\n"
                  "\nPORTS 3 & 4 are not changed to 1 Mode\nEnter to continue\n\n", changed(2, 0)),
         board="uart34 tty1 /dev/ttyS0\n", arch="arm64"),
    # Delays the driver cannot take (Linux 6.1 allows 100 ms at most): the
    # switch is refused and the port set back as it was; marlek-board tells
    # them from that limit, without trying them.
    Case("pl011_delays_refused", "uartmode",
         ["5\n1\n1\n\n", ("guest-tool rs485 /dev/ttyAMA0 | cut -d' ' -f1,2", "enabled 0"), "q\n"],
         uartmode(MODE_PROMPT + "MarlekSerialConfig error: serial port mode not switched "
                  f"{BOARD_PATH}:1: uart12 tty1: the driver of /dev/ttyAMA0 took RS-485 but reads back RS-485 on, RTS "
                  "high on send, delays 100 and 100 ms; the port was set back as it was; the pair has no mode lines\n"
                  "\nPORTS 1 & 2 are not changed to 1 Mode\nEnter to continue\n\n"),
         board=LONG_DELAYS, arch="arm64"),
    Case("pl011_delays_check", "marlek-board", stdout=(
        CHECK_MAP + f"uart12   problem: serial port mode not switched: {BOARD_PATH}:2: uart12 rs485-delays: Linux takes "
        "RS-485 delays of at most 100 ms, not 150 and 100 ms, and uartmode's switch to RS-485 fails on them; give "
        "delays of 100 ms or less\nuart34   not described: uartmode cannot switch UART 3 and 4\n"), status=1,
        board=LONG_DELAYS, arch="arm64"),
    # The library owns the whole setting: another owner's RTS after send and
    # delays give way to its own, and RS-232 leaves nothing set.
    # Through the board service: the port stays in RS-485 once uartmode has ended.
    Case("pl011_through_service", "uartmode", "5\n1\n1\nq\n", uartmode(changed(1, 1)), board=PL011,
         setup=["service_start"], checks=[kernel_mode(1), ("service_stop; guest-tool rs485 /dev/ttyAMA0", "enabled 1 "
                                                                     "rts-on-send 1 delays 2 3")], arch="arm64"),
    Case("pl011_owns_the_setting", "uartmode",
         ["5\n1\n1\n", kernel_mode(1), "1\n0\n", ("guest-tool rs485 /dev/ttyAMA0", "enabled 0 rts-on-send 0 delays 0 0"),
          "q\n"],
         uartmode(changed(1, 1), changed(1, 0)), board=PL011, setup=["guest-tool rs485-set /dev/ttyAMA0 0x5 7 7"],
         arch="arm64"),
]
