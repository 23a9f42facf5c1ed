"""marlek-board watch and show: the board as the service holds it, each
change as a program makes it (with the program, its pid and its user) or as
the outside world makes it on an input, a watcher that takes nothing which
slows no program, and a socket carried elsewhere, as ssh -L carries it."""
from hardware_case import Case
from linux_board import BOARD, DIO_PINS
from pinio import pinio, table

SOCKET = "/run/marlek-board/board.sock"
START = "service_start"
WATCH = "/tmp/watch"
# A watch in the background on the service (or SERVICE), asked once it has
# been told the board: the service then holds it as a watcher.
WATCHING = ("marlek-board watch > {file} 2>&1 & watcher=$!; "
            "until marlek-board 2>/dev/null | grep -q '2 connections'; do :; done; ")
# The times of the lines and the pids of the programs, which differ run by
# run, as words the expected text can hold.
UNSTAMPED = "cut -d' ' -f2- {file} | sed \"s/pid $p1,/pid P1,/; s/pid $p2,/pid P2,/; s/pid $p3,/pid P3,/; s/pid $p4,/pid P4,/\""
# The pins' drive and level lines played back: each pin's last drive and
# level (pin 7 first), the lines whose "from" is not what the one before
# left, the level lines not pinio's, and whether userled's LED line is the
# last.
REPLAY = ('$2 == "pin" && ($4 == "drives" || $4 == "level") { key = $4 " " $3; '
          'if ((key in state) && state[key] != $5) gaps++; state[key] = $7; '
          'if ($4 == "level" && $8 != "(pinio,") others++ } '
          '/LED off -> on \\(userled,/ { led = NR } '
          'END { for (pin = 7; pin >= 0; pin--) { d = d state["drives " pin]; l = l state["level " pin] } '
          'print d, l, gaps + 0, others + 0, (led == NR) }')


def by(program, number):
    return f" ({program}, pid P{number}, user root)"


EVERY_PROGRAM = (
    ["pins held" + by("pinio", 1)]
    + [f"pin {pin} direction input -> output, open-drain" + by("pinio", 1) for pin in range(8)]
    + [f"pin {pin} drives 0 -> 1" + by("pinio", 1) for pin in (0, 2, 5, 7)]
    + [f"pin {pin} direction output, open-drain -> input" + by("pindrive", 2) for pin in range(8)]
    + ["UART 1 and 2 not switched, mode lines - - -> RS-485, mode lines 0 1" + by("uartmode", 3)]
    + ["LED off -> on" + by("userled", 4)])

CASES = [
    # Off a terminal, one line per change, in order, with who made it.
    Case("every_program", WATCHING.format(file=WATCH)
         + "printf '3\\n165\\nq\\nq\\n' > /tmp/1; printf '1\\nq\\n' > /tmp/2; printf '5\\n1\\n1\\nq\\n' > /tmp/3; "
           "printf '3\\n1\\n0\\nq\\n' > /tmp/4; pinio < /tmp/1 > /dev/null & p1=$!; wait $p1; "
           "pindrive < /tmp/2 > /dev/null & p2=$!; wait $p2; uartmode < /tmp/3 > /dev/null & p3=$!; wait $p3; "
           "userled < /tmp/4 > /dev/null & p4=$!; wait $p4; "
           f"guest-tool wait-line {WATCH} 'LED off' 5 > /dev/null; kill $watcher; "
         + UNSTAMPED.format(file=WATCH),
         stdout="".join(line + "\n" for line in EVERY_PROGRAM), board=BOARD, setup=[START]),
    # An input's level changed from outside is told within 50 ms, measured here.
    Case("outside_within_50_ms", WATCHING.format(file=WATCH)
         + f"set_pull 0 3 pull-up; ms=$(guest-tool wait-line {WATCH} 'pin 3 level 0 -> 1 (from outside)' 2); "
           "kill $watcher; if [ \"$ms\" != none ] && [ \"$ms\" -le 50 ]; then echo within; else echo \"$ms ms\"; fi",
         stdout="within\n", board=DIO_PINS, setup=[START, "printf '1\\nq\\n' | pinio > /dev/null"]),
    # show: the table once.
    Case("show", "marlek-board show | grep -E '^(DIR|OUT|DATA|LED|UART [0-9] and [0-9]):'",
         stdout="DIR:\tout\tout\tout\tout\tout\tout\tout\tout\nOUT:\t1\t0\t1\t0\t0\t1\t0\t1\n"
                "DATA:\t1\t0\t1\t0\t0\t1\t0\t1\nLED:\toff\nUART 1 and 2:\tnot switched, mode lines - -\n"
                "UART 3 and 4:\tnot switched, mode lines - -\n",
         board=BOARD, setup=["set_pulls 0 0xFF", START, "printf '3\\n165\\nq\\nq\\n' | pinio > /dev/null"]),
    # A watcher stopped (Ctrl-S, SIGSTOP) slows no program: pinio's 20,000
    # bytes take as long as without it, within the noise of this run; once
    # it goes on, it is told what it missed and the board as it is.
    # (the least of two runs of each side, one before the watch and one after it).
    Case("stopped_watcher", "{ printf '3\\n'; i=0; while [ $i -lt 20000 ]; do echo $((i % 256)); i=$((i + 1)); done; "
         "printf 'q\\nq\\n'; } > /tmp/input; run() { guest-tool time /tmp/input pinio | cut -d' ' -f1; }; "
         "least() { [ $1 -le $2 ] && echo $1 || echo $2; }; alone=$(run); "
         + WATCHING.format(file=WATCH) + "kill -STOP $watcher; watched=$(least $(run) $(run)); kill -CONT $watcher; "
         f"guest-tool wait-line {WATCH} 'the board as it is now' 10 > /dev/null; kill $watcher; "
         "alone=$(least $alone $(run)); "
         "if [ $((watched * 4)) -le $((alone * 5)) ]; then echo in time; else echo \"$watched us against $alone us\"; "
         f"fi; grep -c 'missed [0-9]* changes; the board as it is now:' {WATCH}",
         stdout="in time\n1\n", board=DIO_PINS, setup=["set_pulls 0 0xFF", START], seconds=120),
    # Calls too close for a read of the levels each: pinio's, which drive
    # four pulled-up pins low, are told with the levels all the same, as
    # pinio's, though nothing follows them; in a burst, each drive is
    # told (the drive lines play back without a gap, to the last byte, 165),
    # and the levels end as a read gives them, before userled's change.
    Case("burst_levels", WATCHING.format(file=WATCH)
         + "printf '3\\n165\\nq\\nq\\n' | pinio > /dev/null; "
           f"[ \"$(guest-tool wait-line {WATCH} 'pin 6 level 1 -> 0 (pinio' 5)\" != none ] && echo told; "
           "{ printf '3\\n'; i=0; while [ $i -lt 256 ]; do echo $i; i=$((i + 1)); done; printf '165\\nq\\nq\\n'; } "
           "| pinio > /dev/null; printf '3\\n1\\n0\\nq\\n' | userled > /dev/null; "
           f"guest-tool wait-line {WATCH} 'LED off' 5 > /dev/null; kill $watcher; awk '{REPLAY}' {WATCH} > /tmp/replay; "
           "read -r drives levels rest < /tmp/replay; "
           "read_now=$(marlek-board show | awk -F'\\t' '$1 == \"DATA:\" { for (i = 2; i <= 9; i++) printf \"%s\", $i }'); "
           "[ \"$levels\" = \"$read_now\" ] && echo \"levels as read\"; echo \"$drives $rest\"",
         stdout="told\nlevels as read\n10100101 0 0 1\n", board=BOARD, setup=["set_pulls 0 0xFF", START]),
    # A socket carried elsewhere, as ssh -L carries it: pinio and the watch
    # work through it (the service sees the carrier as the peer).
    Case("carried_socket", f"guest-tool forward /tmp/lab.sock {SOCKET} > /tmp/forward & "
         "guest-tool wait-line /tmp/forward forwarding 5 > /dev/null; export MARLEK_BOARD_SERVICE=/tmp/lab.sock; "
         + WATCHING.format(file=WATCH) + "pinio; "
         f"guest-tool wait-line {WATCH} 'pins held' 5 > /dev/null; kill $watcher; cut -d' ' -f2-3 {WATCH}",
         "1\nq\n", pinio(table("1 1 1 1 1 1 1 1")) + "pins held\n", board=DIO_PINS,
         setup=["set_pulls 0 0xFF", START]),
]
