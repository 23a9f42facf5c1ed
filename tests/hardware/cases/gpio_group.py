"""The group gpio of marlek-board-linux: Debian's udev daemon applies the
package's rule to the chips and the LED, a member of the group runs pinio and
userled, a user outside it gets the library's permission texts; once dpkg
has removed the rule, the package's postrm takes the access away."""
import shlex

from dialogue_case import DIO_INIT_FAILED
from hardware_case import Case
from pinio import pinio, table
from userled import ACCESSED, FAILED, LED_PROMPT, userled

BOARD_PATH = "/tmp/case/board.conf"
BOARD = ("# the fixture's board\n" + "".join(f"pin {pin} marlek-dio DIO{pin}\n" for pin in range(8))
         + "led class marlek:user\n")
LED = "/sys/class/leds/marlek:user/brightness"
RULE = "/lib/udev/rules.d/60-marlek-board-linux.rules"
MEMBER = "as_user 1000,$(group_id gpio)"
CHIPS_ACCESS = "stat -c '%a %G' $(chip_device 0) $(chip_device 1)"
# LEDs besides the fixture's, made with extra_led: the rule's old chgrp and
# chmod took the first one's name for the words "-R" and "etc"; the second
# begins with '-' and holds quotes.
HOSTILE = "x -R etc y"
QUOTED = "-it's\"led"
OTHER = "marlek:other"
ADMIN_RULE = 'SUBSYSTEM=="gpio", KERNEL=="gpiochip[0-9]*", GROUP="gpio", MODE="0660"'


def brightness(led):
    return shlex.quote(f"/sys/class/leds/{led}/brightness")


def access(*paths):
    """The mode and group of each path, one a line."""
    return "stat -c '%a %G' " + " ".join(paths)


def extra_led(name):
    return f"extra_led {shlex.quote(name)}"


NO_PERMISSION = (f"Marlek_DIOInit: permission denied {BOARD_PATH}:2: pin 0: cannot open /dev/gpiochip0: Permission "
                 "denied; give the user access to it (ls -l /dev/gpiochip0 shows its owner and group: add the user to "
                 "that group, or give it one with a udev rule), or run as root\n" + DIO_INIT_FAILED)
LED_NOT_WRITABLE = (LED_PROMPT + "MarlekLedConfig error: permission denied cannot write /sys/class/leds/marlek:user/"
                    "brightness: Permission denied; give the user write access to it (a udev rule can), or run as root\n"
                    + FAILED)

CASES = [
    Case("rule_applied", f"{CHIPS_ACCESS} {LED}", stdout="660 gpio\n660 gpio\n664 gpio\n", board=BOARD,
         setup=["udev_start"]),
    # No part of an LED's name is a word of a command: nothing outside the
    # LED's folder changes, and a name with quotes gets the group.
    Case("led_name_no_words", access("/etc", "/etc/group", brightness(HOSTILE), brightness(QUOTED)),
         stdout="755 root\n644 root\n644 root\n664 gpio\n", board=f"led class {QUOTED}\n",
         setup=[extra_led(HOSTILE), extra_led(QUOTED), "udev_start"]),
    # The group gets the LED that the description names and no other; one it
    # no longer names goes back to root when udev is asked again.
    Case("only_named_led", access(LED, brightness(OTHER)), stdout="664 gpio\n644 root\n", board=BOARD,
         setup=[extra_led(OTHER), "udev_start"]),
    Case("led_follows_description", access(LED, brightness(OTHER)), stdout="644 root\n664 gpio\n", board=BOARD,
         setup=[extra_led(OTHER), "udev_start", f"echo 'led class {OTHER}' > /etc/marlek/board.conf",
                "udevadm trigger --subsystem-match=leds --action=change", "udevadm settle --timeout=10"]),
    Case("member_runs_pinio", f"{MEMBER} pinio", "1\nq\n", pinio(table("1 0 1 0 0 1 0 1")), board=BOARD,
         setup=["udev_start", "set_pulls 0 0xA5"]),
    Case("member_switches_led", f"{MEMBER} userled", "3\n1\n0\n1\n1\nq\n", userled(ACCESSED, ACCESSED), board=BOARD,
         setup=["udev_start"], checks=[("led_log", "1\n0")]),
    Case("outsider_refused_pins", "as_user 1000 pinio", "q\n", NO_PERMISSION, status=1, board=BOARD,
         setup=["udev_start"]),
    Case("outsider_refused_led", "as_user 1000 userled", "3\n1\n0\n\nq\n", userled(LED_NOT_WRITABLE), board=BOARD,
         setup=["udev_start"], checks=[("led_log", "")]),
    # dpkg takes the rule away, then the package's postrm the group's access.
    Case("postrm_takes_access", f"{MEMBER} pinio", "q\n", NO_PERMISSION, status=1, board=BOARD,
         setup=["udev_start", f"mv {RULE} /tmp/rule", "sh /opt/marlek/control/postrm remove", "udevadm settle"],
         checks=[(f"{CHIPS_ACCESS} {LED}", "600 root\n600 root\n644 root"),
                 (f"mv /tmp/rule {RULE} && echo restored", "restored")]),
    # With udevd stopped, postrm gives back the LED that the rule gave, and
    # leaves the chips that an administrator's rule gives the group too, and
    # an LED that the administrator gave it.
    Case("postrm_leaves_other_grants", f"{CHIPS_ACCESS} {brightness(OTHER)} {LED}",
         stdout="660 gpio\n660 gpio\n664 gpio\n644 root\n", board=BOARD,
         setup=[extra_led(OTHER), "udev_start", f"chgrp gpio {brightness(OTHER)}", f"chmod g+w {brightness(OTHER)}",
                f"mkdir -p /etc/udev/rules.d && echo '{ADMIN_RULE}' > /etc/udev/rules.d/70-admin.rules",
                "udevadm control --exit", f"mv {RULE} /tmp/rule", "sh /opt/marlek/control/postrm remove"],
         checks=[(f"mv /tmp/rule {RULE} && echo restored", "restored")]),
]
