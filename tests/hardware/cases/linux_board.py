"""The four programs on the Linux board library, against gpio-sim and uleds:
the console reads as on the simulated board, and the kernel's side holds what
each step did; then each failure an operator meets, with its text."""
from dialogue_case import DIO_INIT_FAILED
from hardware_case import Case
from pindrive import ALL_PUSH_PULL, pindrive
from pinio import BIT_PROMPT, PIN_PROMPT, VALUE_PROMPT, data_line, pinio, sent, table
from uartmode import MODE_PROMPT, changed, uartmode
from userled import ACCESSED, FAILED, LED_PROMPT, userled

BOARD_PATH = "/tmp/case/board.conf"
DIO_PINS = "".join(f"pin {pin} marlek-dio DIO{pin}\n" for pin in range(8))
MODE_LINES = ("uart12 line marlek-ctl UART12_M0\nuart12 line marlek-ctl UART12_M1\n"
              "uart12 rs232 0 0\nuart12 rs485 0 1\nuart12 rs422 1 0\n"
              "uart34 line marlek-ctl 2\nuart34 line marlek-ctl 3\n"
              "uart34 rs232 0 0\nuart34 rs485 1 1\nuart34 rs422 1 0\n")
BOARD = "# the fixture's board\n" + DIO_PINS + "led class marlek:user\n" + MODE_LINES
# Pins 0 to 5 on one chip, 6 and 7 on the other, by name and by offset.
TWO_CHIPS = ("".join(f"pin {pin} marlek-dio DIO{pin}\n" for pin in range(6))
             + "pin 6 marlek-ctl SPARE5\npin 7 /dev/gpiochip1 6\n")
DIO_BUSY = "line 7 of gpiochip1 \"marlek-ctl\" is held by \"other-user\"; stop what holds it, or map to another line"


def init_failed(text, detail):
    return f"Marlek_DIOInit: {text} {detail}\n" + DIO_INIT_FAILED


def led_failed(text, detail):
    return LED_PROMPT + f"MarlekLedConfig error: {text} {detail}\n" + FAILED


def mode_not_changed(choice, mode, text, detail):
    pairs = {1: "1 & 2", 2: "3 & 4"}
    return (MODE_PROMPT + f"MarlekSerialConfig error: {text} {detail}\n"
            + f"\nPORTS {pairs[choice]} are not changed to {mode} Mode\nEnter to continue\n\n")


def pin_lines(*flags):
    """line_info of the eight DIO lines, as held by the library."""
    return "\n".join(f"{pin} DIO{pin} marlek used,{flag}" for pin, flag in enumerate(flags))


CASES = [
    # Reads: the pull of each line is the level read.
    Case("read_byte_pulls", "pinio", "1\nq\n", pinio(table("1 0 1 0 0 1 0 1")), board=BOARD,
         setup=["set_pulls 0 0xA5"]),
    Case("read_bits", "pinio", "2\n3\n2\n4\nq\n", pinio(PIN_PROMPT + data_line(3, 1), PIN_PROMPT + data_line(4, 0)),
         board=BOARD, setup=["set_pull 0 3 pull-up"]),
    # The lines are requested as they are: inputs stay inputs, consumer marlek.
    Case("lines_held_as_they_are", "pinio", ["", ("line_info 0", pin_lines(*["input"] * 8)), "q\n"], pinio(),
         board=BOARD),
    # Writes make the pins open-drain outputs: against pull-ups a 1 releases the
    # line, which reads high, and a 0 pulls it low; the pins start released.
    Case("write_byte_open_drain_pulled_up", "pinio",
         ["3\n", ("bank_values 0", "1 1 1 1 1 1 1 1"), "165\n", ("bank_values 0", "1 0 1 0 0 1 0 1"),
          ("line_info 0", pin_lines(*["output,open-drain"] * 8)), "q\n1\nq\n"],
         pinio(sent(165) + VALUE_PROMPT, table("1 0 1 0 0 1 0 1")), board=BOARD, setup=["set_pulls 0 0xFF"]),
    # Against pull-downs open-drain cannot drive high.
    Case("write_byte_open_drain_pulled_down", "pinio", ["3\n255\n", ("bank_values 0", "0 0 0 0 0 0 0 0"), "q\n1\nq\n"],
         pinio(sent(255) + VALUE_PROMPT, table("0 0 0 0 0 0 0 0")), board=BOARD),
    # Write bit: the chosen pin alone becomes an output.
    Case("write_bit", "pinio",
         ["4\n5\n0\n", ("bank_values 0", "1 1 1 1 1 0 1 1"),
          ("line_info 0", pin_lines(*["input"] * 5, "output,open-drain", "input", "input")), "q\n"],
         pinio(PIN_PROMPT + BIT_PROMPT), board=BOARD, setup=["set_pulls 0 0xFF"]),
    # Pins on two chips: one request each, read and driven together.
    Case("pins_on_two_chips", "pinio",
         ["1\n3\n15\n", ("bank_values 0", "1 1 1 1 0 0 0 0"), ("bank_values 1", "0 0 0 0 0 0 0 1"),
          ("line_info 1 5", "5 SPARE5 marlek used,output,open-drain"), "q\nq\n"],
         pinio(table("0 1 0 1 1 1 1 1"), sent(15) + VALUE_PROMPT), board=TWO_CHIPS,
         setup=["set_pulls 0 0x1F", "set_pull 1 5 pull-up"]),
    Case("pindrive_makes_inputs", "pindrive", ["1\n", ("line_info 0 0", "0 DIO0 marlek used,input"), "q\n"],
         pindrive(ALL_PUSH_PULL), board=BOARD),

    # The LED class device: on is its max_brightness, off 0.
    Case("led_class", "userled", "3\n1\n0\n1\n1\nq\n", userled(ACCESSED, ACCESSED), board=BOARD,
         checks=[("led_log", "1\n0")]),
    # An active-low LED on a GPIO line: on drives it low.
    Case("led_line_active_low", "userled",
         ["3\n1\n0\n", ("line_value 1 4", "0"), "1\n1\n", ("line_value 1 4", "1"),
          ("line_info 1 4", "4 LED_GPIO marlek used,output,active-low"), "q\n"],
         userled(ACCESSED, ACCESSED), board="led line marlek-ctl LED_GPIO active-low\n"),

    # The mode lines of each pair take the mode's values; the others stay.
    Case("mode_lines", "uartmode",
         ["5\n1\n1\n", ("bank_values 1", "0 1 0 0 0 0 0 1"), "1\n2\n", ("bank_values 1", "1 0 0 0 0 0 0 1"),
          "2\n1\n", ("bank_values 1", "1 0 1 1 0 0 0 1"), "1\n0\n", ("bank_values 1", "0 0 1 1 0 0 0 1"), "q\n"],
         uartmode(changed(1, 1), changed(1, 2), changed(2, 1), changed(1, 0)), board=BOARD),
    # A port whose driver has no RS-485 mode (the 8250 of the console).
    Case("tty_without_rs485", "uartmode", "5\n1\n1\n\n1\n0\nq\n",
         uartmode(mode_not_changed(1, 1, "serial port mode not switched",
                                   f"{BOARD_PATH}:9: uart12 tty1: /dev/ttyS0 cannot switch to RS-485: its driver "
                                   "has no RS-485 mode (TIOCSRS485: Inappropriate ioctl for device); the pair's "
                                   "mode lines were set for RS-485 already"),
                  changed(1, 0)),
         board=DIO_PINS + "uart12 tty1 ttyS0\n" + MODE_LINES),

    # What the operator meets, each with what to do.
    Case("line_busy", "pinio", "q\n",
         init_failed("GPIO line busy", f"{BOARD_PATH}:8: pin 7: {DIO_BUSY}"), status=1,
         board=DIO_PINS.replace("pin 7 marlek-dio DIO7", "pin 7 marlek-ctl 7")),
    Case("chip_missing", "pinio", "q\n",
         init_failed("GPIO chip not found", f"{BOARD_PATH}:1: pin 0: no GPIO chip \"marlek-gpio\" (the chips: "
                     "gpiochip0 \"marlek-dio\", gpiochip1 \"marlek-ctl\"); correct the chip's path, name or label"),
         status=1, board=DIO_PINS.replace("pin 0 marlek-dio", "pin 0 marlek-gpio")),
    Case("line_missing", "pinio", "q\n",
         init_failed("GPIO line not found", f"{BOARD_PATH}:3: pin 2: gpiochip0 \"marlek-dio\" has no line named "
                     "\"DIO9\"; correct the name, or give the line's offset (marlek-board lists the lines)"),
         status=1, board=DIO_PINS.replace("DIO2", "DIO9")),
    Case("description_malformed", "pinio", "q\n",
         init_failed("board description unusable", f"{BOARD_PATH}:9: \"9\" is not a pin: the pins are 0 to 7"),
         status=1, board=DIO_PINS + "pin 9 marlek-dio 0\n"),
    Case("description_missing", "pinio", "q\n",
         init_failed("board description unusable", "cannot open the board description /etc/marlek/board.conf: No "
                     "such file or directory; write the board's description there, or name one with MARLEK_BOARD "
                     "(see marlek-board.conf(5))"), status=1),
    Case("no_permission", "as_user 1000 pinio", "q\n",
         init_failed("permission denied", f"{BOARD_PATH}:2: pin 0: cannot open /dev/gpiochip0: Permission denied; "
                     "give the user access to it (ls -l /dev/gpiochip0 shows its owner and group: add the user to "
                     "that group, or give it one with a udev rule), or run as root"), status=1, board=BOARD),
    Case("led_missing", "userled", "3\n1\n0\n\nq\n",
         userled(led_failed("LED cannot be written", f"{BOARD_PATH}:1: the LED: no LED \"marlek:usr\" in "
                            "/sys/class/leds; correct the name (ls /sys/class/leds lists them)")),
         board="led class marlek:usr\n"),
    Case("led_not_writable", "as_user 1000 userled", "3\n1\n0\n\nq\n",
         userled(led_failed("permission denied", "cannot write /sys/class/leds/marlek:user/brightness: Permission "
                            "denied; give the user write access to it (a udev rule can), or run as root")),
         board=BOARD),
    # Nothing half-applied: a busy mode line leaves the pair's other line as it was.
    Case("mode_line_busy", "uartmode", ["5\n1\n1\n\n", ("bank_values 1", "0 0 0 0 0 0 0 1"), "q\n"],
         uartmode(mode_not_changed(1, 1, "GPIO line busy", f"{BOARD_PATH}:2: mode line 2: {DIO_BUSY}")),
         board="uart12 line marlek-ctl UART12_M0\nuart12 line marlek-ctl 7\nuart12 rs232 0 0\nuart12 rs485 1 1\n"
               "uart12 rs422 1 0\n"),

    # The check command: the map, and each problem with status 1.
    Case("check_map", "marlek-board", stdout=(
        f"board description {BOARD_PATH}\n"
        + "".join(f"pin {pin}    line {pin} \"DIO{pin}\" of gpiochip0 \"marlek-dio\" (/dev/gpiochip0): input, free\n"
                  for pin in range(8))
        + "led      LED class device marlek:user, brightness 0\n"
        + "uart12   line 0 \"UART12_M0\" of gpiochip1 \"marlek-ctl\" (/dev/gpiochip1), mode line 1: input, free\n"
        + "uart12   line 1 \"UART12_M1\" of gpiochip1 \"marlek-ctl\" (/dev/gpiochip1), mode line 2: input, free\n"
        + "uart12   rs232 0 0, rs485 0 1, rs422 1 0\n"
        + "uart34   line 2 \"UART34_M0\" of gpiochip1 \"marlek-ctl\" (/dev/gpiochip1), mode line 1: input, free\n"
        + "uart34   line 3 \"UART34_M1\" of gpiochip1 \"marlek-ctl\" (/dev/gpiochip1), mode line 2: input, free\n"
        + "uart34   rs232 0 0, rs485 1 1, rs422 1 0\n"), stderr="", board=BOARD),
    Case("check_problems", "marlek-board", stdout=(
        f"board description {BOARD_PATH}\n"
        + "".join(f"pin {pin}    line {pin} \"DIO{pin}\" of gpiochip0 \"marlek-dio\" (/dev/gpiochip0): input, free\n"
                  for pin in range(7))
        + "pin 7    line 7 of gpiochip1 \"marlek-ctl\" (/dev/gpiochip1): output, held by \"other-user\"\n"
        + f"pin 7    problem: GPIO line busy: {BOARD_PATH}:8: pin 7: {DIO_BUSY}\n"
        + "led      not described: userled cannot switch it\n"
        + f"uart12   problem: serial port mode not switched: {BOARD_PATH}:9: uart12 tty1: /dev/ttyS0 cannot switch "
          "to RS-485, its driver has no RS-485 mode: Inappropriate ioctl for device\n"
        + "uart34   not described: uartmode cannot switch UART 3 and 4\n"),
        stderr=f"marlek-board: {BOARD_PATH} is not usable as it stands: 2 problems above\n", status=1,
        board=DIO_PINS.replace("pin 7 marlek-dio DIO7", "pin 7 marlek-ctl 7") + "uart12 tty1 ttyS0\n"),

    # Installed from the packages, the programs bind the board library by name
    # and read /etc/marlek/board.conf.
    Case("installed_packages", "env -u LD_LIBRARY_PATH -u MARLEK_BOARD /usr/bin/pinio", "1\nq\n",
         pinio(table("1 0 1 0 0 1 0 1")), board=BOARD,
         setup=["mkdir -p /etc/marlek", f"cp {BOARD_PATH} /etc/marlek/board.conf", "set_pulls 0 0xA5"],
         checks=[("rm /etc/marlek/board.conf; echo removed", "removed")]),
]
