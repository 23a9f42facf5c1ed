"""pinio: reading and driving the GPIO pins."""
from dialogue_case import (Case, DIO_COMPLETED, DIO_INIT_FAILED, FREE, INIT, INVALID_OPTION, PIN_REFUSED, PRESS_ENTER,
                           argument_cases, dio_dialogue, dio_menu, error_calls, fail, failing, report)

TITLE = "\nDIO INPUT AND OUTPUT: Main Menu \n"
MENU = dio_menu(["1) Read Byte from  GPIO Pins\n", "2) Read bit from GPIO Pin\n",
                 "3) Write Byte to GPIO Pins\n", "4) Write Bit to a GPIO Pin\n"])
PIN_PROMPT = "Enter GPIO Number:(0-7):\n"
HYPHENS = "-" * 68 + "\r\n"


ESCAPED_STATE_PROBLEM = ("MARLEK_SIM_STATE=board\\x1b]0;owned\\x07/: it ends in a separator, so it names a folder and "
                         "not a file; correct or unset MARLEK_SIM_STATE")


def pinio(*passes, end=None):
    return dio_dialogue(TITLE, MENU, *passes, **({} if end is None else {"end": end}))


def table(bits):
    return (HYPHENS + "GPIO:\t7\t6\t5\t4\t3\t2\t1\t0\r\n" + HYPHENS + "DATA:"
            + "".join("\t" + bit for bit in bits.split()) + "\n\n")


def data_line(pin, level):
    return f"\nDATA: GPIO{pin} - {level}\n\n"


VALUE_PROMPT = "Enter value 0-255 or q to quit:"
BIT_PROMPT = "Enter Bit value:(0-1):"
BIT_REFUSED = "\nEnter the proper GPIO Value:(0-1) \n"
ALL_OUTPUTS = "Marlek_DIOSetConfig(0xff, 0x00) = 0"


def sent(*values):
    """The write-byte loop sending each value in turn."""
    return "".join(f"{VALUE_PROMPT}The Byte value  {value} is sent to GPIO Pins\n" for value in values)


def output_byte(*values):
    return [f"Marlek_DIOOutputByte(0x{value:02x}, 0xff) = 0" for value in values]


# Write-byte answers and the byte each one sends, in one visit of the loop.
WRITE_BYTE_ANSWERS = [
    ("5q", 5),            # the first answer of a visit
    ("255", 255),
    ("511", 255),
    ("255", 255),
    ("1", 1),             # every answer up to 255 sends exactly its value
    ("256", 0),
    ("300", 44),
    ("-5", 44),           # a negative number sends the previous byte again
    ("", 44),             # so does a line without a number
    ("abc", 44),
    ("4294967296", 255),  # clamped to 2147483647
    ("0", 0),
    ("165", 165),
]

CASES = [
    Case("quit_q", "q\n", pinio(), [INIT, FREE]),
    Case("quit_word", "quit\n", pinio(), [INIT, FREE]),
    Case("quit_113", "113\n", pinio(), [INIT, FREE]),
    Case("quit_without_newline", "q", pinio(), [INIT, FREE]),
    # Only a lower-case q in the first column quits; numbers no menu has are refused.
    Case("invalid_choices", " q\nQ\n\n5\n0\n-1\n4294967296\nq\n", pinio(*[INVALID_OPTION] * 7), [INIT, FREE]),

    Case("read_byte_pulled_up", "1\nq\n", pinio(table("1 1 1 1 1 1 1 1")),
         [INIT, "Marlek_DIOInputByte(-> 0xff) = 0", FREE]),
    Case("read_byte_a5", "1\nq\n", pinio(table("1 0 1 0 0 1 0 1")),
         [INIT, "Marlek_DIOInputByte(-> 0xa5) = 0", FREE], env={"MARLEK_SIM_INPUTS": "0xA5"}),
    Case("read_byte_failed", "1\n\nq\n",
         pinio(report("Marlek_DIOInputByte error: ") + PRESS_ENTER),
         [INIT, "Marlek_DIOInputByte() = 5", *error_calls(), FREE],
         env=failing(fail("Marlek_DIOInputByte"))),

    Case("read_bit", "2\n3\n2\n4\nq\n",
         pinio(PIN_PROMPT + data_line(3, 1), PIN_PROMPT + data_line(4, 0)),
         [INIT, "Marlek_DIOInputBit(3, -> 1) = 0", "Marlek_DIOInputBit(4, -> 0) = 0", FREE],
         env={"MARLEK_SIM_INPUTS": "0x08"}),
    Case("read_bit_refused_pins", "2\n8\n2\n-1\n2\n300\n2\n99999999999\nq\n",
         pinio(*[PIN_PROMPT + PIN_REFUSED] * 4), [INIT, FREE]),
    # An answer without a number, q among them, reads pin 0 and stays in the program.
    Case("read_bit_no_number_reads_pin_0", "2\n\n2\nq\n2\n 7\nq\n",
         pinio(PIN_PROMPT + data_line(0, 1), PIN_PROMPT + data_line(0, 1), PIN_PROMPT + data_line(7, 1)),
         [INIT, "Marlek_DIOInputBit(0, -> 1) = 0", "Marlek_DIOInputBit(0, -> 1) = 0",
          "Marlek_DIOInputBit(7, -> 1) = 0", FREE]),
    Case("read_bit_failed", "2\n6\n\nq\n",
         pinio(PIN_PROMPT + report("Marlek_DIOInputBit error: ", 3, "sensor off line") + PRESS_ENTER),
         [INIT, "Marlek_DIOInputBit(6) = 3", *error_calls(3, "sensor off line"), FREE],
         env=failing(fail("Marlek_DIOInputBit", code=3, text="sensor off line"))),
    # Only the second read fails.
    Case("read_byte_second_call_fails", "1\n1\n\n1\nq\n",
         pinio(table("1 1 1 1 1 1 1 1"), report("Marlek_DIOInputByte error: ") + PRESS_ENTER,
               table("1 1 1 1 1 1 1 1")),
         [INIT, "Marlek_DIOInputByte(-> 0xff) = 0", "Marlek_DIOInputByte() = 5", *error_calls(),
          "Marlek_DIOInputByte(-> 0xff) = 0", FREE],
         env=failing(fail("Marlek_DIOInputByte", call=2))),

    # A 25-character line is read as 19 characters; the rest is the next line.
    Case("long_line_split", "00000000000000000027abcde\nq\n",
         pinio(PIN_PROMPT + data_line(7, 1)), [INIT, "Marlek_DIOInputBit(7, -> 1) = 0", FREE]),
    # The wait takes one character; the rest of the line is the next menu answer.
    Case("wait_takes_one_character", "1\nabc\nq\n",
         pinio(report("Marlek_DIOInputByte error: ") + PRESS_ENTER, INVALID_OPTION),
         [INIT, "Marlek_DIOInputByte() = 5", *error_calls(), FREE],
         env=failing(fail("Marlek_DIOInputByte"))),
    # A library that fills in no error record and has no text for the code.
    Case("error_without_texts", "1\n\nq\n", pinio("Marlek_DIOInputByte error:  \n" + PRESS_ENTER),
         [INIT, "Marlek_DIOInputByte() = 5", "KVTGetLastError() = 1", "kvtGetErrorString(0) = NULL", FREE],
         env=failing(fail("Marlek_DIOInputByte"), fail("KVTGetLastError"), fail("kvtGetErrorString"))),

    Case("init_failed", "1\nq\n",
         report("Marlek_DIOInit: ", 9, "no board found") + DIO_INIT_FAILED,
         ["Marlek_DIOInit() = 9", *error_calls(9, "no board found"), "Marlek_DIOFree() = 1"],
         status=1, env=failing(fail("Marlek_DIOInit", code=9, text="no board found"))),
    # A failure text that holds a control character from outside reaches the
    # console escaped: here an escape sequence that would set its title.
    Case("init_failed_text_escaped", "1\nq\n",
         report("Marlek_DIOInit: ", 7, ESCAPED_STATE_PROBLEM) + DIO_INIT_FAILED,
         ["Marlek_DIOInit() = 7", *error_calls(7, ESCAPED_STATE_PROBLEM), "Marlek_DIOFree() = 1"],
         status=1, env={"MARLEK_SIM_STATE": "board\x1b]0;owned\x07/"}),
    Case("free_failed", "q\nx\n",
         pinio(end=report("Marlek_DIOFree error : ") + "\nPress enter to quit\n"),
         [INIT, "Marlek_DIOFree() = 5", *error_calls()], status=1,
         env=failing(fail("Marlek_DIOFree"))),

    # End of input ends the dialogue as the quit choice does, at every prompt.
    Case("end_of_input_at_menu", "", pinio(), [INIT, FREE]),
    Case("end_of_input_at_pin_prompt", "2\n", pinio(end=PIN_PROMPT + DIO_COMPLETED),
         [INIT, FREE]),
    Case("end_of_input_at_wait", "1\n", pinio(report("Marlek_DIOInputByte error: ") + PRESS_ENTER),
         [INIT, "Marlek_DIOInputByte() = 5", *error_calls(), FREE],
         env=failing(fail("Marlek_DIOInputByte"))),
    Case("end_of_input_then_free_failed", "",
         pinio(end=report("Marlek_DIOFree error : ") + "\nPress enter to quit\n"),
         [INIT, "Marlek_DIOFree() = 5", *error_calls()], status=1,
         env=failing(fail("Marlek_DIOFree"))),
    Case("last_line_without_newline", "2\n5", pinio(PIN_PROMPT + data_line(5, 1)),
         [INIT, "Marlek_DIOInputBit(5, -> 1) = 0", FREE]),

    # Write byte: all pins become outputs; each answer sends a byte until q.
    Case("write_byte_values", "3\n" + "".join(answer + "\n" for answer, _ in WRITE_BYTE_ANSWERS) + "q5\n1\nq\n",
         pinio(sent(*[value for _, value in WRITE_BYTE_ANSWERS]) + VALUE_PROMPT, table("1 0 1 0 0 1 0 1")),
         [INIT, ALL_OUTPUTS, *output_byte(*[value for _, value in WRITE_BYTE_ANSWERS]),
          "Marlek_DIOInputByte(-> 0xa5) = 0", FREE]),
    # Each visit starts again from 0.
    Case("write_byte_each_visit_starts_at_0", "3\n200\nq\n3\n-1\nq\nq\n",
         pinio(sent(200) + VALUE_PROMPT, sent(0) + VALUE_PROMPT),
         [INIT, ALL_OUTPUTS, *output_byte(200), ALL_OUTPUTS, *output_byte(0), FREE]),
    # The write goes on after a failed configuration; the wait takes the empty line.
    Case("write_byte_config_failed", "3\n\n7\nq\nq\n",
         pinio(report("Marlek_DIOSetConfig error: ") + PRESS_ENTER + sent(7) + VALUE_PROMPT),
         [INIT, "Marlek_DIOSetConfig(0xff, 0x00) = 5", *error_calls(), *output_byte(7), FREE],
         env=failing(fail("Marlek_DIOSetConfig"))),
    # A failed write is reported and not announced as sent.
    Case("write_byte_output_failed", "3\n9\n\n10\nq\nq\n",
         pinio(VALUE_PROMPT + report("Marlek_DIOOutputByte error: ") + PRESS_ENTER + sent(10) + VALUE_PROMPT),
         [INIT, ALL_OUTPUTS, "Marlek_DIOOutputByte(0x09, 0xff) = 5", *error_calls(), *output_byte(10), FREE],
         env=failing(fail("Marlek_DIOOutputByte", call=1))),
    Case("end_of_input_in_write_byte", "3\n12\n", pinio(end=sent(12) + VALUE_PROMPT + DIO_COMPLETED),
         [INIT, ALL_OUTPUTS, *output_byte(12), FREE]),

    # Write bit: the chosen pin becomes an output and is driven high or low.
    Case("write_bit_high_then_low", "4\n7\n1\n2\n7\n4\n7\n0\n2\n7\nq\n",
         pinio(PIN_PROMPT + BIT_PROMPT, PIN_PROMPT + data_line(7, 1), PIN_PROMPT + BIT_PROMPT,
               PIN_PROMPT + data_line(7, 0)),
         [INIT, "Marlek_DIOSetConfig(0x80, 0x00) = 0", "Marlek_DIOOutputBit(0x80, 0xff) = 0",
          "Marlek_DIOInputBit(7, -> 1) = 0", "Marlek_DIOSetConfig(0x80, 0x00) = 0",
          "Marlek_DIOOutputBit(0x00, 0xff) = 0", "Marlek_DIOInputBit(7, -> 0) = 0", FREE]),
    # A bit other than 0 or 1 is refused after the pin was configured; no number means 0.
    Case("write_bit_values", "4\n3\n2\n4\n3\n-1\n4\n3\n\nq\n",
         pinio(PIN_PROMPT + BIT_PROMPT + BIT_REFUSED, PIN_PROMPT + BIT_PROMPT + BIT_REFUSED,
               PIN_PROMPT + BIT_PROMPT),
         [INIT, "Marlek_DIOSetConfig(0x08, 0x00) = 0", "Marlek_DIOSetConfig(0x08, 0x00) = 0",
          "Marlek_DIOSetConfig(0x08, 0x00) = 0", "Marlek_DIOOutputBit(0x00, 0xff) = 0", FREE]),
    Case("write_bit_refused_pins", "4\n8\n4\n-1\nq\n", pinio(*[PIN_PROMPT + PIN_REFUSED] * 2), [INIT, FREE]),
    # q at the pin prompt reads pin 0 and stays in the program.
    Case("write_bit_q_reads_pin_0", "4\nq\n1\nq\n", pinio(PIN_PROMPT + BIT_PROMPT),
         [INIT, "Marlek_DIOSetConfig(0x01, 0x00) = 0", "Marlek_DIOOutputBit(0x01, 0xff) = 0", FREE]),
    Case("write_bit_failures", "4\n2\n\n1\n\nq\n",
         pinio(PIN_PROMPT + report("Marlek_DIOSetConfig error: ") + PRESS_ENTER + BIT_PROMPT
               + report("Marlek_DIOOutputBit error: ", 4, "bus busy") + PRESS_ENTER),
         [INIT, "Marlek_DIOSetConfig(0x04, 0x00) = 5", *error_calls(), "Marlek_DIOOutputBit(0x04, 0xff) = 4",
          *error_calls(4, "bus busy"), FREE],
         env=failing(fail("Marlek_DIOSetConfig"), fail("Marlek_DIOOutputBit", code=4, text="bus busy"))),
    Case("end_of_input_at_bit_prompt", "4\n2\n", pinio(end=PIN_PROMPT + BIT_PROMPT + DIO_COMPLETED),
         [INIT, "Marlek_DIOSetConfig(0x04, 0x00) = 0", FREE]),
    Case("end_of_input_at_write_bit_pin_prompt", "4\n", pinio(end=PIN_PROMPT + DIO_COMPLETED), [INIT, FREE]),

    *argument_cases("pinio"),
]
