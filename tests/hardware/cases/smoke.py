"""The harness itself: the fixture as the board library will find it, the
helpers, and a program's exact bytes through the console."""
from dialogue_case import INVALID_OPTION
from hardware_case import SIM_LIBRARY, Case
from pinio import pinio, table

LED = "/sys/class/leds/marlek:user/brightness"
UNUSED_INPUT = "- input"

CASES = [
    Case("chips_and_lines", "chip_label 0; chip_label 1; line_info 0; line_info 1",
         stdout="marlek-dio\nmarlek-ctl\n"
         + "".join(f"{k} DIO{k} {UNUSED_INPUT}\n" for k in range(8))
         + "".join(f"{k} {name} {UNUSED_INPUT}\n" for k, name in
                   enumerate(["UART12_M0", "UART12_M1", "UART34_M0", "UART34_M1", "LED_GPIO", "SPARE5", "SPARE6"]))
         + "7 - other-user used,output\n",
         checks=[("bank_values 0", "0 0 0 0 0 0 0 0"), ("bank_values 1", "0 0 0 0 0 0 0 1")]),
    Case("pulls_set_levels", "true", setup=["set_pulls 0 0xA5", "set_pull 1 4 pull-up"],
         checks=[("bank_values 0", "1 0 1 0 0 1 0 1"), ("line_value 1 4", "1"), ("line_value 1 3", "0")]),
    # uleds hands back changes only: the second 0 is not one.
    Case("led_log", f"echo 1 > {LED}; echo 0 > {LED}; echo 0 > {LED}; echo 1 > {LED}",
         checks=[("led_log", "1\n0\n1"), ("led_brightness", "1")]),
    Case("board_file", 'cat "$MARLEK_BOARD"', board="dio = marlek-dio\n", stdout="dio = marlek-dio\n"),
    Case("chip_for_root_only", "as_user 1000 guest-tool info $(chip_device 0) 2>&1 | grep -c 'Permission denied'",
         stdout="1\n"),
    Case("chip_opened_to_user", "as_user 1000 guest-tool info $(chip_device 0) | head -1",
         setup=["chmod 0666 $(chip_device 0)"], stdout="marlek-dio 8\n"),
    Case("pinio_on_sim_library", "pinio", stdin="5\nq\n", stdout=pinio(INVALID_OPTION), env=SIM_LIBRARY),
    # Checks between inputs run once the program has handled the input before them.
    Case("checks_while_waiting", "read a; echo $a > seen; read b; echo $a$b", stdin=["x\n", ("cat seen", "x"), "y\n"],
         stdout="xy\n"),
    Case("pinio_waiting", "pinio", stdin=["1\n", ("pidof pinio > /dev/null && echo waiting", "waiting"), "q\n"],
         stdout=pinio(table("1 1 1 1 1 1 1 1")), env=SIM_LIBRARY),
    Case("exit_status", "pinio", stdin="q\n", status=1, stderr="",
         env={**SIM_LIBRARY, "MARLEK_SIM_FAIL": "Marlek_DIOFree"}),
]
