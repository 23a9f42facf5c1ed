"""The four programs on the Linux board library, against gpio-sim and uleds:
the console reads as on the simulated board, and the kernel's side holds what
each step did; then each failure an operator meets, with its text."""
from dialogue_case import DIO_INIT_FAILED
from hardware_case import Case, shim
from pindrive import ALL_PUSH_PULL, pindrive
from pinio import BIT_PROMPT, PIN_PROMPT, VALUE_PROMPT, data_line, pinio, sent, table
from uartmode import MODE_PROMPT, changed, uartmode
from userled import ACCESSED, FAILED, LED_PROMPT, userled

BOARD_PATH = "/tmp/case/board.conf"
# What marlek-board says where the board service does not run.
NO_SERVICE = "service  not running (no /run/marlek-board/board.sock): each program drives the kernel itself\n"
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


def one_line(later, where, line, earlier, program, choice=1):
    """A program refusing a description that names one line for two things."""
    text = (f"{BOARD_PATH}:{where}: {later}: {line} is named for {earlier} already; give each thing its own line")
    refusals = {"pinio": lambda: init_failed("board description unusable", text),
                "uartmode": lambda: uartmode(mode_not_changed(choice, 0, "board description unusable", text)),
                "userled": lambda: userled(led_failed("board description unusable", text))}
    return refusals[program]()


INPUT = {"pinio": "q\n", "uartmode": "5\n1\n0\n\nq\n", "userled": "3\n1\n0\n\nq\n"}
MODES = "rs232 0\n{0} rs485 1\n{0} rs422 1\n"


def pair(entry, chip, line):
    return f"{entry} line {chip} {line}\n{entry} " + MODES.format(entry)


def not_a_tty(name, setup, tty, what, mode, check):
    return Case(f"tty_{name}", "uartmode", f"5\n1\n{mode}\n\nq\n",
                uartmode(mode_not_changed(1, mode, "serial port mode not switched",
                                          f"{BOARD_PATH}:1: uart12 tty1: {tty} is {what}, not a tty; name the port's "
                                          "tty (/dev/ttyS1); the pair has no mode lines")),
                board=f"uart12 tty1 {tty}\n", setup=setup, checks=check)


def draft_pair(entry, ports):
    return (f"\n# {ports} of uartmode: the transceiver's mode lines in order (1 to 4), the\n"
            "# values (0 or 1) of each mode line for each mode, and the ports' ttys for\n"
            "# the kernel's RS-485 mode with its RTS delays in ms. Keep what the board has.\n"
            + "".join(f"#{entry} {words}\n" for words in ["line CHIP LINE", "line CHIP LINE", "rs232 0 0", "rs485 0 1",
                                                        "rs422 1 0"])
            + "# The serial ports: ttyS0.\n"
            "# Their RS-485 mode is not probed: marlek-board --probe TTY reads one port's.\n"
            + "".join(f"#{entry} {words}\n" for words in ["tty1 TTY", "tty2 TTY", "rs485-delays 0 0"]))


# The starting description of the fixture's board.
DRAFT = ("# A starting board description, written by marlek-board --draft from what\n"
         "# this system has. Complete it: put in what each entry that begins with '#'\n"
         "# needs and take the '#' away, check it with marlek-board FILE, then install\n"
         "# it as /etc/marlek/board.conf. The format: marlek-board.conf(5).\n#\n"
         "# The GPIO chips (marlek-board --list shows their lines):\n"
         "#   gpiochip0 \"marlek-dio\", 8 lines\n#   gpiochip1 \"marlek-ctl\", 8 lines\n\n"
         "# The eight pins of pinio and pindrive: 'pin N CHIP LINE', CHIP a chip's\n"
         "# label, name or path, LINE a line's name or offset.\n"
         "# Guessed from the line names DIO0 to DIO7 of marlek-dio: check them.\n" + DIO_PINS
         + "\n# The user LED of userled: an LED class device of /sys/class/leds, or a\n"
         "# GPIO line, lit when high, or when low with active-low.\n"
         "# Guessed: the LED class device marlek:user: check it.\nled class marlek:user\n"
         "#led line CHIP LINE active-low\n" + draft_pair("uart12", "UART 1 and 2") + draft_pair("uart34", "UART 3 and 4"))


def dio_map(count):
    """marlek-board's map of the first count pins, free on the fixture's chip."""
    return "".join(f"pin {pin}    line {pin} \"DIO{pin}\" of gpiochip0 \"marlek-dio\" (/dev/gpiochip0): input, free\n"
                   for pin in range(count))


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
    # A port whose driver has no RS-485 mode (the 8250 of the console); the
    # refused switch leaves no descriptor of it open.
    Case("tty_without_rs485", "uartmode",
         ["5\n1\n1\n\n", ("ls -l /proc/$(pidof uartmode)/fd | grep -c tty", "0"), "1\n0\nq\n"],
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
                     "\"DIO9\"; correct the name, or give the line's offset (marlek-board --list lists the lines)"),
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
                            "/sys/class/leds; correct the name (marlek-board --list lists them)")),
         board="led class marlek:usr\n"),
    Case("led_not_writable", "as_user 1000 userled", "3\n1\n0\n\nq\n",
         userled(led_failed("permission denied", "cannot write /sys/class/leds/marlek:user/brightness: Permission "
                            "denied; give the user write access to it (a udev rule can), or run as root")),
         board=BOARD),
    # Nothing half-applied: a busy mode line leaves the pair's other line as it was.
    Case("mode_line_busy", "uartmode", ["5\n1\n1\n\n", ("bank_values 1", "0 0 0 0 0 0 0 1"), "q\n"],
         uartmode(mode_not_changed(1, 1, "GPIO line busy", f"{BOARD_PATH}:2: uart12 mode line 2: {DIO_BUSY}")),
         board="uart12 line marlek-ctl UART12_M0\nuart12 line marlek-ctl 7\nuart12 rs232 0 0\nuart12 rs485 1 1\n"
               "uart12 rs422 1 0\n"),

    # A kernel's refusal after the library found the line free: it names who took it.
    Case("line_taken_after_the_look", "pinio", "q\n",
         init_failed("GPIO line busy", f"{BOARD_PATH}: the pins: line 0 \"DIO0\" of gpiochip0 \"marlek-dio\" is held by "
                     "\"intruder\"; stop what holds it, or map to another line"), status=1, board=DIO_PINS,
         env=shim("take-lines")),
    # A kernel before 5.10 has no v2 of the GPIO character device.
    Case("kernel_before_5_10", "pinio", "q\n",
         init_failed("GPIO request failed", f"{BOARD_PATH}:1: pin 0: /dev/gpiochip0 answers only the first GPIO "
                     "character device interface, not its v2, which came in Linux 5.10 and which the board library "
                     "needs (this kernel: 6.1.0-57-amd64); run Linux 5.10 or later"),
         status=1, board=DIO_PINS, env=shim("old-kernel")),
    # Each configuration reaches the pins of every chip: write bit makes pin 0
    # alone an output again, and the pins on the second chip inputs.
    Case("config_on_every_chip", "pinio",
         ["3\n15\nq\n", ("line_info 1 5", "5 SPARE5 marlek used,output,open-drain"), "4\n0\n1\n",
          ("line_info 1 5; line_info 1 6; line_info 0 0; line_info 0 1",
           "5 SPARE5 marlek used,input\n6 SPARE6 marlek used,input\n0 DIO0 marlek used,output,open-drain\n"
           "1 DIO1 marlek used,input"), "q\n"],
         pinio(sent(15) + VALUE_PROMPT, PIN_PROMPT + BIT_PROMPT), board=TWO_CHIPS),
    # A description without entries describes nothing: each call says so.
    Case("only_comments_pinio", "pinio", "q\n",
         init_failed("not in the board description", f"{BOARD_PATH} maps no pins; add 'pin N CHIP LINE' for each of "
                     "the pins 0 to 7 (see marlek-board.conf(5))"), status=1, board="# to do\n\n# later\n"),
    Case("only_comments_userled", "userled", INPUT["userled"],
         userled(led_failed("not in the board description", f"{BOARD_PATH} describes no user LED; add 'led class "
                            "NAME' or 'led line CHIP LINE [active-low]' (see marlek-board.conf(5))")),
         board="# to do\n"),
    Case("only_comments_uartmode", "uartmode", INPUT["uartmode"],
         uartmode(mode_not_changed(1, 0, "not in the board description", f"{BOARD_PATH} describes neither mode lines "
                                   "nor ttys for UART 1 and 2; add 'uart12 line CHIP LINE' for each mode line with "
                                   "'uart12 rs232|rs485|rs422 V...', or 'uart12 tty1 TTY' (see marlek-board.conf(5))")),
         board="# to do\n"),
    # What is not a tty is never switched, and a file stays as it was.
    not_a_tty("regular_file", ["echo precious > /tmp/case/victim"], "/tmp/case/victim", "a regular file", 0,
              [("cat /tmp/case/victim", "precious")]),
    not_a_tty("fifo", ["mkfifo /tmp/case/victim"], "/tmp/case/victim", "a FIFO", 2,
              [("[ -p /tmp/case/victim ] && echo fifo", "fifo")]),
    not_a_tty("null_device", [], "/dev/null", "a character device (1:3, mem)", 1, []),
    Case("not_a_chip", "pinio", "q\n",
         init_failed("GPIO chip not found", f"{BOARD_PATH}:1: pin 0: /dev/null is a character device (1:3, mem), not "
                     "a GPIO chip; name a /dev/gpiochipN, its name or its label"), status=1,
         board=DIO_PINS.replace("pin 0 marlek-dio DIO0", "pin 0 /dev/null 0")),
    # A word of the description reaches the terminal escaped.
    Case("escaped_led_name", "userled", INPUT["userled"],
         userled(led_failed("LED cannot be written", f"{BOARD_PATH}:1: the LED: no LED \"\\x1b]0;x\\x07\\x1b[2J\" in "
                            "/sys/class/leds; correct the name (marlek-board --list lists them)")),
         board="led class \x1b]0;x\x07\x1b[2J\n"),
    # One line for two things, however each is spelled: by offset and by
    # name, by label and by path, a pin and a mode line, the LED's line and a
    # mode line, a mode line of each pair.
    Case("one_line_offset_and_name", "pinio", INPUT["pinio"],
         one_line("pin 7", 8, "line 6 \"DIO6\" of gpiochip0 \"marlek-dio\"", "pin 6 on line 7", "pinio"), status=1,
         board=DIO_PINS.replace("pin 7 marlek-dio DIO7", "pin 7 marlek-dio 6")),
    Case("one_line_label_and_path", "pinio", INPUT["pinio"],
         one_line("pin 7", 8, "line 6 \"DIO6\" of gpiochip0 \"marlek-dio\"", "pin 6 on line 7", "pinio"), status=1,
         board=DIO_PINS.replace("pin 7 marlek-dio DIO7", "pin 7 /dev/gpiochip0 DIO6")),
    Case("one_line_pin_and_mode_line", "uartmode", INPUT["uartmode"],
         one_line("uart12 mode line 1", 9, "line 0 \"DIO0\" of gpiochip0 \"marlek-dio\"", "pin 0 on line 1",
                  "uartmode"), board=DIO_PINS + pair("uart12", "/dev/gpiochip0", "0")),
    Case("one_line_led_and_mode_line", "userled", INPUT["userled"],
         one_line("uart34 mode line 1", 2, "line 4 \"LED_GPIO\" of gpiochip1 \"marlek-ctl\"", "the LED on line 1",
                  "userled"), board="led line marlek-ctl LED_GPIO\n" + pair("uart34", "gpiochip1", "4")),
    Case("one_line_for_both_pairs", "uartmode", "5\n2\n0\n\nq\n",
         one_line("uart34 mode line 1", 5, "line 0 \"UART12_M0\" of gpiochip1 \"marlek-ctl\"",
                  "uart12 mode line 1 on line 1", "uartmode", choice=2),
         board=pair("uart12", "marlek-ctl", "UART12_M0") + pair("uart34", "/dev/gpiochip1", "0")),
    Case("one_tty_two_names", "uartmode", INPUT["uartmode"],
         uartmode(mode_not_changed(1, 0, "board description unusable",
                                   f"{BOARD_PATH}:2: uart34 tty1: /tmp/case/serial0 is the tty that uart12 tty1 names "
                                   "on line 1 already (/dev/ttyS0); give each port its own tty")),
         board="uart12 tty1 ttyS0\nuart34 tty1 /tmp/case/serial0\n", setup=["ln -s /dev/ttyS0 /tmp/case/serial0"]),
    # A line name that two lines of a chip carry: either may be the one meant.
    Case("line_name_on_two_lines", "pinio", INPUT["pinio"],
         init_failed("GPIO line not found", f"{BOARD_PATH}:1: pin 0: the line name \"A\" is carried by 2 lines of "
                     "gpiochip2 \"twins\" (offsets 0 and 2); name the line by its offset instead"), status=1,
         board=DIO_PINS.replace("pin 0 marlek-dio DIO0", "pin 0 twins A"), setup=["extra_chip twins A B A"]),
    # A device replaced between the look at it and its opening is not used.
    Case("chip_replaced_while_opened", "pinio", INPUT["pinio"],
         init_failed("GPIO chip not found", f"{BOARD_PATH}:1: pin 0: cannot open the GPIO chip /dev/gpiochip0: No "
                     "such device"), status=1,
         board=DIO_PINS.replace("pin 0 marlek-dio", "pin 0 /dev/gpiochip0"), env=shim("swap-chip")),
    # A label that two chips carry: the next boot may number them the other way.
    Case("label_on_two_chips", "pinio", INPUT["pinio"],
         init_failed("GPIO chip not found", f"{BOARD_PATH}:1: pin 0: the label \"marlek-dio\" is carried by 2 chips "
                     "(gpiochip0 \"marlek-dio\", gpiochip2 \"marlek-dio\"), whose numbers may change at the next "
                     "boot; name the chip by its name or path (/dev/gpiochip0) instead"), status=1, board=DIO_PINS,
         setup=["extra_chip marlek-dio"]),
    # With standard output closed, no folder of the library lands on it.
    Case("folder_above_standard_streams", "pinio >&-", "q\n", status=0, board=DIO_PINS, env=shim("low-fds"),
         checks=[("cat /tmp/case/low-fds 2>/dev/null; echo none below 3", "none below 3")]),

    # The check command: the map, and each problem with status 1.
    Case("check_map", "marlek-board", stdout=(
        f"board description {BOARD_PATH}\n" + NO_SERVICE
        + dio_map(8)
        + "led      LED class device marlek:user, brightness 0 of 1\n"
        + "uart12   line 0 \"UART12_M0\" of gpiochip1 \"marlek-ctl\" (/dev/gpiochip1), mode line 1: input, free\n"
        + "uart12   line 1 \"UART12_M1\" of gpiochip1 \"marlek-ctl\" (/dev/gpiochip1), mode line 2: input, free\n"
        + "uart12   rs232 0 0, rs485 0 1, rs422 1 0\n"
        + "uart34   line 2 \"UART34_M0\" of gpiochip1 \"marlek-ctl\" (/dev/gpiochip1), mode line 1: input, free\n"
        + "uart34   line 3 \"UART34_M1\" of gpiochip1 \"marlek-ctl\" (/dev/gpiochip1), mode line 2: input, free\n"
        + "uart34   rs232 0 0, rs485 1 1, rs422 1 0\n"), stderr="", board=BOARD),
    Case("check_problems", "marlek-board", stdout=(
        f"board description {BOARD_PATH}\n" + NO_SERVICE
        + dio_map(7)
        + "pin 7    line 7 of gpiochip1 \"marlek-ctl\" (/dev/gpiochip1): output, held by \"other-user\"\n"
        + f"pin 7    problem: GPIO line busy: {BOARD_PATH}:8: pin 7: {DIO_BUSY}\n"
        + "led      not described: userled cannot switch it\n"
        + "uart12   tty1 /dev/ttyS0: RS-485 off\n"
        + "uart34   not described: uartmode cannot switch UART 3 and 4\n"),
        stderr=f"marlek-board: {BOARD_PATH} is not usable as it stands: 1 problem above\n", status=1,
        board=DIO_PINS.replace("pin 7 marlek-dio DIO7", "pin 7 marlek-ctl 7") + "uart12 tty1 ttyS0\n"),

    # marlek-board judges a description as the library does.
    Case("check_one_line", "marlek-board", stdout=(
        f"board description {BOARD_PATH}\n" + NO_SERVICE
        + dio_map(8)
        + "led      not described: userled cannot switch it\n"
        + "uart12   line 0 \"DIO0\" of gpiochip0 \"marlek-dio\" (/dev/gpiochip0), mode line 1: input, free\n"
        + "uart12   rs232 0, rs485 1, rs422 1\n"
        + "uart34   not described: uartmode cannot switch UART 3 and 4\n"
        + f"lines    problem: board description unusable: {BOARD_PATH}:9: uart12 mode line 1: line 0 \"DIO0\" of "
          "gpiochip0 \"marlek-dio\" is named for pin 0 on line 1 already; give each thing its own line\n"),
        stderr=f"marlek-board: {BOARD_PATH} is not usable as it stands: 1 problem above\n", status=1,
        board=DIO_PINS + pair("uart12", "/dev/gpiochip0", "0")),
    # What cannot be opened, once for all it concerns; what is no tty; a word
    # from outside escaped.
    Case("check_not_for_the_user", "as_user 1000 marlek-board", stdout=(
        f"board description {BOARD_PATH}\n" + NO_SERVICE +
        "pin 0    problem: permission denied: cannot open /dev/gpiochip0: Permission denied; give the user access to "
        "it (ls -l /dev/gpiochip0 shows its owner and group: add the user to that group, or give it one with a udev "
        f"rule), or run as root ({BOARD_PATH}: "
        + ", ".join(f"pin {pin} on line {pin + 2}" for pin in range(8))
        + ", uart12 mode line 1 on line 11, uart12 mode line 2 on line 12, uart34 mode line 1 on line 16, "
          "uart34 mode line 2 on line 17)\n"
        "led      LED class device marlek:user, brightness 0 of 1\n"
        "led      problem: permission denied: cannot write /sys/class/leds/marlek:user/brightness: Permission "
        "denied; give the user write access to it (a udev rule can), or run as root\n"
        "uart12   rs232 0 0, rs485 0 1, rs422 1 0\n"
        "uart34   rs232 0 0, rs485 1 1, rs422 1 0\n"),
        stderr=f"marlek-board: {BOARD_PATH} is not usable as it stands: 2 problems above\n", status=1, board=BOARD),
    Case("check_not_a_tty_and_escaped", "marlek-board", stdout=(
        f"board description {BOARD_PATH}\n" + NO_SERVICE + f"pins     not described: the digital I/O cannot be opened\n"
        f"led      problem: LED cannot be written: {BOARD_PATH}:1: the LED: no LED \"\\x1b[2J\\xc2\\x9b\" in "
        "/sys/class/leds; correct the name (marlek-board --list lists them)\n"
        f"uart12   problem: serial port mode not switched: {BOARD_PATH}:2: uart12 tty1: /tmp/case/victim is a regular "
        "file, not a tty; name the port's tty (/dev/ttyS1)\n"
        "uart34   not described: uartmode cannot switch UART 3 and 4\n"), status=1,
        board="led class \x1b[2J\xc2\x9b\nuart12 tty1 /tmp/case/victim\n", setup=["echo precious > /tmp/case/victim"],
        checks=[("cat /tmp/case/victim", "precious")]),

    # Line information that cannot be read: once for both pins it concerns.
    Case("check_line_unreadable", "marlek-board", stdout=(
        f"board description {BOARD_PATH}\n" + NO_SERVICE + dio_map(1)
        + "pin 1    problem: GPIO request failed: cannot read line 1 of gpiochip0 \"marlek-dio\": Input/output error; "
        f"the kernel's log (dmesg) may say why ({BOARD_PATH}: pin 1 on line 2, pin 7 on line 8)\n"
        + dio_map(7)[len(dio_map(2)):]
        + "led      not described: userled cannot switch it\n"
        + "uart12   not described: uartmode cannot switch UART 1 and 2\n"
        + "uart34   not described: uartmode cannot switch UART 3 and 4\n"), status=1,
        board=DIO_PINS.replace("DIO1", "1").replace("DIO7", "DIO1"), env=shim("lineinfo-fails")),

    # What the system has, before there is a description.
    Case("list", "marlek-board --list", stdout=(
        "GPIO chips:\n  /dev/gpiochip0: gpiochip0 \"marlek-dio\", 8 lines\n"
        + "".join(f"    line {k} \"DIO{k}\": input, free\n" for k in range(8))
        + "  /dev/gpiochip1: gpiochip1 \"marlek-ctl\", 8 lines\n"
        + "".join(f"    line {k} \"{name}\": input, free\n" for k, name in
                  enumerate(["UART12_M0", "UART12_M1", "UART34_M0", "UART34_M1", "LED_GPIO", "SPARE5", "SPARE6"]))
        + "    line 7: output, held by \"other-user\"\n"
        + "LED class devices (/sys/class/leds):\n"
        + "".join(f"  input0::{lock}lock: brightness 0 of 1\n" for lock in ["caps", "num", "scroll"])
        + "  marlek:user: brightness 0 of 1\n"
        + "Serial ports:\n  /dev/ttyS0: RS-485 mode not probed (marlek-board --probe ttyS0 reads it)\n"), stderr=""),
    # Nothing but the ttys a description names is opened: the console's
    # modem-control lines and RS-485 setting stay as they were.
    Case("list_draft_and_check_leave_ports",
         "guest-tool watch-ports /dev/ttyS0 -- sh -c '{ marlek-board --list; marlek-board --draft; marlek-board; } "
         "> /dev/null'", stdout="/dev/ttyS0: modem lines and RS-485 unchanged\n", board=BOARD),
    # A starting description: the pins and the LED guessed from their names,
    # the rest to complete; completed, it is accepted.
    Case("draft", "marlek-board --draft /tmp/case/draft.conf && cat /tmp/case/draft.conf", stdout=DRAFT, stderr=""),
    # A label that the description would read as a path is not offered.
    Case("draft_chip_labelled_as_a_path", "marlek-board --draft | grep 'P0 to P7'",
         stdout="#   P0 to P7 of gpiochip2\n", setup=["extra_chip /dev/gpiochip0 P0 P1 P2 P3 P4 P5 P6 P7"]),
    # Nor a guess from line names that two lines carry.
    Case("draft_line_name_on_two_lines", "marlek-board --draft | grep 'Guessed from'",
         stdout="# Guessed from the line names DIO0 to DIO7 of marlek-dio: check them.\n",
         setup=["extra_chip twins Q0 Q1 Q2 Q3 Q4 Q5 Q6 Q7 Q0"]),
    Case("draft_not_for_the_user", "as_user 1000 marlek-board --draft | grep gpiochip", stdout="".join(
        f"#   /dev/gpiochip{n}: cannot be opened (permission denied); draft again as a user who may open it\n"
        for n in range(2))),
    Case("draft_completed", "marlek-board --draft draft.conf && printf '%s' '" + MODE_LINES + "' >> draft.conf && "
         "marlek-board draft.conf > /dev/null && echo accepted", stdout="accepted\n", stderr=""),

    # Installed from the packages, the programs bind the board library by name
    # and read /etc/marlek/board.conf.
    Case("installed_packages", "env -u LD_LIBRARY_PATH -u MARLEK_BOARD /usr/bin/pinio", "1\nq\n",
         pinio(table("1 0 1 0 0 1 0 1")), board=BOARD,
         setup=["mkdir -p /etc/marlek", f"cp {BOARD_PATH} /etc/marlek/board.conf", "set_pulls 0 0xA5"],
         checks=[("rm /etc/marlek/board.conf; echo removed", "removed")]),
]
