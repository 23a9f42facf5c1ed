"""uartmode: RS-232, RS-485 or RS-422 for the two UART pairs."""
from dialogue_case import Case, INVALID_OPTION, MENU_RULE, argument_cases, error_calls, fail, failing, report

PORT_PROMPT = "Enter first COM port number:\n"
MENU = ("\n\tCOM PORTS SELECTION: Main Menu \n" + MENU_RULE + "1. Select mode for UART 1 and UART 2\n"
        + "2. Select mode for UART 3 and UART 4\n" + "q. Quit Program \n" + MENU_RULE + "\nYour Option :")
MODE_PROMPT = "\nSelect below required mode:\n\n0 - RS232,  1 - RS485  and 2 - RS422  Default:RS232 Hit Enter\n"
WRONG_MODE = "\nWRONG INPUT !!! : Select Mode as per the options\n"
PAIRS = {1: "1 & 2", 2: "3 & 4"}
CODES = {(1, 0): 0x01, (1, 1): 0x00, (1, 2): 0x0C, (2, 0): 0x03, (2, 1): 0x02, (2, 2): 0x22}


def uartmode(*passes):
    """The port prompt, the menu, and the menu again after each pass; a choice
    line beginning with q (or the end of input) ends it without a word."""
    return PORT_PROMPT + MENU + "".join(out + MENU for out in passes)


def changed(choice, mode):
    return MODE_PROMPT + f"\nPORTS {PAIRS[choice]} are changed to {mode} Mode\n\n"


def not_changed(choice, mode, code=5, detail="failure injected by MARLEK_SIM_FAIL"):
    return (MODE_PROMPT + report("MarlekSerialConfig error: ", code, detail)
            + f"\nPORTS {PAIRS[choice]} are not changed to {mode} Mode\nEnter to continue\n\n")


def serial(choice, mode, first, second, status=0):
    return f"MarlekSerialConfig(0x{CODES[(choice, mode)]:02x}, [{first}, {second}]) = {status}"


CASES = [
    Case("pair_3_4_rs422", "5\n2\n2\nq\n", uartmode(changed(2, 2)), [serial(2, 2, 7, 8)]),
    Case("enter_alone_is_rs232", "5\n1\n\nq\n", uartmode(changed(1, 0)), [serial(1, 0, 5, 6)]),
    # Every cell of the code table once.
    Case("mode_codes", "10\n" + "".join(f"{choice}\n{mode}\n" for choice, mode in CODES) + "q\n",
         uartmode(*[changed(choice, mode) for choice, mode in CODES]),
         [serial(choice, mode, 10 + 2 * (choice - 1), 11 + 2 * (choice - 1)) for choice, mode in CODES]),
    # Out-of-range modes are asked again; after one, a line without a number is
    # refused again, while Enter alone selects RS-232.
    Case("modes_refused", "1\n1\n3\n-1\nabc\n   \n99999999999\n\nq\n",
         uartmode(MODE_PROMPT + (WRONG_MODE + MODE_PROMPT) * 5 + "\nPORTS 1 & 2 are changed to 0 Mode\n\n"),
         [serial(1, 0, 1, 2)]),
    # A first answer without a number is refused in every visit of the prompt.
    Case("first_mode_answer_without_number", "1\n1\nabc\n1\n2\n \n2\nq\n",
         uartmode(MODE_PROMPT + WRONG_MODE + changed(1, 1), MODE_PROMPT + WRONG_MODE + changed(2, 2)),
         [serial(1, 1, 1, 2), serial(2, 2, 3, 4)]),
    # q at the port prompt is port 0 and the menu follows.
    Case("port_answer_q", "q\n1\n1\nq\n", uartmode(changed(1, 1)), [serial(1, 1, 0, 1)]),
    Case("port_numbers_wrap", "2147483647\n1\n0\n2\n0\nq\n", uartmode(changed(1, 0), changed(2, 0)),
         [serial(1, 0, 2147483647, -2147483648), serial(2, 0, -2147483647, -2147483646)]),
    Case("negative_port", "-3\n2\n1\nquit\n", uartmode(changed(2, 1)), [serial(2, 1, -1, 0)]),
    # 113 does nothing and the menu comes again; other choices are refused.
    Case("choices", "1\n113\n3\n q\nQ\n\nq\n", uartmode("", *[INVALID_OPTION] * 4), []),
    Case("config_failed", "1\n1\n1\n\nq\n", uartmode(not_changed(1, 1)),
         ["MarlekSerialConfig(0x00, [1, 2]) = 5", *error_calls()], env=failing(fail("MarlekSerialConfig"))),
    # Piped input is never discarded: the wait takes a, and bc is the next choice.
    Case("wait_takes_one_character", "1\n2\n0\nabc\nq\n", uartmode(not_changed(2, 0, 3, "port busy"), INVALID_OPTION),
         ["MarlekSerialConfig(0x03, [3, 4]) = 3", *error_calls(3, "port busy")],
         env=failing(fail("MarlekSerialConfig", code=3, text="port busy"))),
    # A 25-character choice line: the rest of it answers the mode prompt.
    Case("long_line_split", "1\n00000000000000000012abcde\nq\n", uartmode(changed(1, 2)), [serial(1, 2, 1, 2)]),

    # End of input ends the program with status 0 and no further call.
    Case("end_of_input_at_port", "", PORT_PROMPT, []),
    Case("end_of_input_at_menu", "1\n", uartmode(), []),
    Case("end_of_input_at_mode", "1\n1\n", PORT_PROMPT + MENU + MODE_PROMPT, []),
    Case("end_of_input_after_wrong_mode", "1\n2\n7\n", PORT_PROMPT + MENU + MODE_PROMPT + WRONG_MODE + MODE_PROMPT, []),
    Case("end_of_input_at_wait", "1\n1\n1\n", uartmode(not_changed(1, 1)),
         ["MarlekSerialConfig(0x00, [1, 2]) = 5", *error_calls()], env=failing(fail("MarlekSerialConfig"))),

    *argument_cases("uartmode"),
]
