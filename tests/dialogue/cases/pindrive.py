"""pindrive: push-pull or open-drain drive for all pins or one pin."""
from dialogue_case import (Case, DIO_COMPLETED, FREE, INIT, INVALID_OPTION, PIN_REFUSED, PRESS_ENTER,
                           argument_cases, dio_dialogue, dio_menu, error_calls, fail, failing, report)

TITLE = "\nDIO Pushpull or Opendrain: Main Menu \n"
MENU = dio_menu(["1) Push pull configuration for all GPIO Pins\n",
                 "2) Opendrine configuration for all GPIO Pins\n",
                 "3) Push pull configuration for GPIO Pin:(BitConfig)\n",
                 "4) Opendrain configuration for all GPIO Pin:(BitConfig)\n"])
PUSH_PULL_PROMPT = "Enter GPIO Number:(0-7):\n"
OPEN_DRAIN_PROMPT = "Enter GPIO Number:(0-7) \n"
ALL_PUSH_PULL = "\nGPIO:(0-7) Pins are configured as PushPull\n\n"
ALL_OPEN_DRAIN = "\nGPIO:(0-7) Pins are configured as Opendrain\n\n"


def pindrive(*passes, end=DIO_COMPLETED):
    return dio_dialogue(TITLE, MENU, *passes, end=end)


def pin_push_pull(pin):
    return f"{PUSH_PULL_PROMPT}\nGPIO:{pin} pin configured as PushPull\n\n"


def pin_open_drain(pin):
    return f"{OPEN_DRAIN_PROMPT}\nGPIO:{pin} pin is configured as Opendrain\n\n"


def drive(push_pull_mask, status=0):
    """The one call every choice makes: never an output, the push-pull mask whole."""
    return f"Marlek_DIOSetConfig(0x00, 0x{push_pull_mask:02x}) = {status}"


CASES = [
    Case("quit_q", "q\n", pindrive(), [INIT, FREE]),
    Case("quit_113", "113\n", pindrive(), [INIT, FREE]),
    Case("invalid_choices", "5\n Q\n\n", pindrive(*[INVALID_OPTION] * 3), [INIT, FREE]),
    Case("all_pins", "1\n2\nq\n", pindrive(ALL_PUSH_PULL, ALL_OPEN_DRAIN), [INIT, drive(0xFF), drive(0x00), FREE]),
    # Choice 3 sets only the named pin push-pull; choice 4 makes all pins
    # open-drain and names the pin only in its message.
    Case("one_pin", "3\n5\n3\n0\n3\n7\n4\n2\nq\n",
         pindrive(pin_push_pull(5), pin_push_pull(0), pin_push_pull(7), pin_open_drain(2)),
         [INIT, drive(0x20), drive(0x01), drive(0x80), drive(0x00), FREE]),
    Case("refused_pins", "3\n8\n3\n-1\n4\n9\n4\n4294967296\nq\n",
         pindrive(PUSH_PULL_PROMPT + PIN_REFUSED, PUSH_PULL_PROMPT + PIN_REFUSED,
                  OPEN_DRAIN_PROMPT + PIN_REFUSED, OPEN_DRAIN_PROMPT + PIN_REFUSED),
         [INIT, FREE]),
    # Before any number an answer without one is refused; after one it reuses
    # the last number given at the same prompt, a refused one included.
    Case("answer_without_number", "3\n\n3\n6\n3\nq\n4\n\n3\n9\n3\n\n4\n1\n4\nx\nq\n",
         pindrive(PUSH_PULL_PROMPT + PIN_REFUSED, pin_push_pull(6), pin_push_pull(6),
                  OPEN_DRAIN_PROMPT + PIN_REFUSED, PUSH_PULL_PROMPT + PIN_REFUSED,
                  PUSH_PULL_PROMPT + PIN_REFUSED, pin_open_drain(1), pin_open_drain(1)),
         [INIT, drive(0x40), drive(0x40), drive(0x00), drive(0x00), FREE]),
    Case("config_failed", "1\n\n3\n4\n\n4\n3\nq\n",
         pindrive(report("Marlek_DIOSetConfig error: ") + PRESS_ENTER,
                  PUSH_PULL_PROMPT + report("Marlek_DIOSetConfig error: ", 9, "drive locked") + PRESS_ENTER,
                  pin_open_drain(3)),
         [INIT, drive(0xFF, 5), *error_calls(), drive(0x10, 9), *error_calls(9, "drive locked"), drive(0x00), FREE],
         env=failing(fail("Marlek_DIOSetConfig", call=1), fail("Marlek_DIOSetConfig", call=2, code=9,
                                                                 text="drive locked"))),
    Case("end_of_input_at_push_pull_pin", "3\n", pindrive(end=PUSH_PULL_PROMPT + DIO_COMPLETED), [INIT, FREE]),
    Case("end_of_input_at_open_drain_pin", "4\n", pindrive(end=OPEN_DRAIN_PROMPT + DIO_COMPLETED), [INIT, FREE]),
    Case("end_of_input_at_wait", "2\n", pindrive(report("Marlek_DIOSetConfig error: ") + PRESS_ENTER),
         [INIT, drive(0x00, 5), *error_calls(), FREE], env=failing(fail("Marlek_DIOSetConfig"))),

    *argument_cases("pindrive"),
]
