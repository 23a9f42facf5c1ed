"""userled: the user LED on or off."""
from dialogue_case import Case, INVALID_OPTION, MENU_RULE, argument_cases, error_calls, fail, failing, report

PORT_PROMPT = "Enter the first COM Port number:\n"
MENU = ("\n\t\tLED SELECTION: Main Menu \n" + MENU_RULE + "1. Select USER LED\n" + "q. Quit Program \n"
        + MENU_RULE + "\nYour Option :")
LED_PROMPT = "Enter option: 1-LED OFF\t0-LED ON\n"
ACCESSED = LED_PROMPT + "\nACCESSED USER LED\n\n"
FAILED = "\nACEESSING USER LED: FAILED ***\nEnter to continue\n\n"


def userled(*passes):
    return PORT_PROMPT + MENU + "".join(out + MENU for out in passes)


def led(setting, port, status=0):
    return f"MarlekLedConfig(7, [{setting}], {port}) = {status}"


def refused(setting):
    """The simulated board knows only 0 (on) and 1 (off)."""
    detail = f"MarlekLedConfig: LED setting {setting} is neither 0 (on) nor 1 (off)"
    return (LED_PROMPT + report("MarlekLedConfig error: ", 4, detail) + FAILED,
            [led(setting, 3, 4), *error_calls(4, detail)])


CASES = [
    # The answer's low 8 bits are passed as they are.
    Case("led_answers", "3\n1\n0\n1\n1\n1\n257\n1\n-1\n\nq\n",
         userled(ACCESSED, ACCESSED, ACCESSED, refused(255)[0]),
         [led(0, 3), led(1, 3), led(1, 3), *refused(255)[1]]),
    # Before any number the answer means off; after one it repeats it.
    Case("answer_without_number", "4\n1\n\n1\n0\n1\nx\nq\n", userled(ACCESSED, ACCESSED, ACCESSED),
         [led(1, 4), led(0, 4), led(0, 4)]),
    Case("port_answer_q", "q\n1\n0\nq\n", userled(ACCESSED), [led(0, 0)]),
    Case("port_not_validated", "-2147483648\n1\n1\nq\n", userled(ACCESSED), [led(1, -2147483648)]),
    Case("choices", "7\n113\n2\n q\n\nquit\n", userled("", *[INVALID_OPTION] * 3), []),
    Case("config_failed", "9\n1\n0\n\nq\n",
         userled(LED_PROMPT + report("MarlekLedConfig error: ", 6, "LED driver missing") + FAILED),
         [led(0, 9, 6), *error_calls(6, "LED driver missing")],
         env=failing(fail("MarlekLedConfig", code=6, text="LED driver missing"))),
    Case("wait_takes_one_character", "9\n1\n0\nabc\nq\n",
         userled(LED_PROMPT + report("MarlekLedConfig error: ") + FAILED, INVALID_OPTION),
         [led(0, 9, 5), *error_calls()], env=failing(fail("MarlekLedConfig"))),

    Case("end_of_input_at_port", "", PORT_PROMPT, []),
    Case("end_of_input_at_menu", "1\n", userled(), []),
    Case("end_of_input_at_led", "1\n1\n", PORT_PROMPT + MENU + LED_PROMPT, []),
    Case("end_of_input_at_wait", "1\n1\n0\n", userled(LED_PROMPT + report("MarlekLedConfig error: ") + FAILED),
         [led(0, 1, 5), *error_calls()], env=failing(fail("MarlekLedConfig"))),

    *argument_cases("userled"),
]
