# The simulated board in the guest, and the helpers that every case's setup,
# command and checks can call. Banks: 0 is the digital I/O, 1 the control lines.
SIM_CONFIG=/sys/kernel/config/gpio-sim/marlek
FIXTURE=/run/fixture
LED_NAME=marlek:user
LED_MAX=1
DIO_LINES="DIO0 DIO1 DIO2 DIO3 DIO4 DIO5 DIO6 DIO7"
CTL_LINES="UART12_M0 UART12_M1 UART34_M0 UART34_M1 LED_GPIO SPARE5 SPARE6"

# Waits up to 5 s for a path to exist.
wait_for() {
    i=0
    while [ ! -e "$1" ]; do
        [ $i -ge 250 ] && { echo "fixture: $1 did not appear" >&2; return 1; }
        sleep 0.02
        i=$((i + 1))
    done
}

fixture_bank() {  # bank number, label, line names
    bank=$SIM_CONFIG/bank$1
    mkdir "$bank" && echo "$2" > "$bank/label" && echo 8 > "$bank/num_lines" || return 1
    shift 2
    k=0
    for name in "$@"; do
        mkdir "$bank/line$k" && echo "$name" > "$bank/line$k/name" || return 1
        k=$((k + 1))
    done
}

fixture_remove() {
    udevadm control --exit 2>/dev/null  # a udevd that a case started ends with it
    service_stop KILL
    if [ -f $FIXTURE/led.pid ]; then
        kill "$(cat $FIXTURE/led.pid)" 2>/dev/null
        wait "$(cat $FIXTURE/led.pid)" 2>/dev/null
    fi
    extra_leds_remove
    rm -rf $FIXTURE $SERVICE_FOLDER /etc/marlek /etc/udev/rules.d /run/marlek-board-linux
    extra_remove
    [ -d $SIM_CONFIG ] || return 0
    echo 0 > $SIM_CONFIG/live
    rmdir $SIM_CONFIG/bank*/line*/hog 2>/dev/null
    rmdir $SIM_CONFIG/bank*/line* $SIM_CONFIG/bank* $SIM_CONFIG
}

# A fresh board: every pull down, line 7 of bank 1 held by another consumer,
# and the LED with an empty log.
fixture_create() {
    fixture_remove || return 1
    mkdir -p $FIXTURE $SIM_CONFIG || return 1
    # shellcheck disable=SC2086
    fixture_bank 0 marlek-dio $DIO_LINES && fixture_bank 1 marlek-ctl $CTL_LINES || return 1
    hog=$SIM_CONFIG/bank1/line7/hog
    mkdir -p "$hog" && echo other-user > "$hog/name" && echo output-high > "$hog/direction" || return 1
    echo 1 > $SIM_CONFIG/live || return 1
    for b in 0 1; do
        chip=$(cat $SIM_CONFIG/bank$b/chip_name)
        echo "/dev/$chip" > $FIXTURE/bank$b.chip
        echo "/sys/devices/platform/$(cat $SIM_CONFIG/dev_name)/$chip" > $FIXTURE/bank$b.sim
        wait_for "/dev/$chip" || return 1
    done
    guest-tool led $LED_NAME $LED_MAX $FIXTURE/led.log &
    echo $! > $FIXTURE/led.pid
    wait_for $FIXTURE/led.log
}

# A third chip with the label given, on a device of its own that
# fixture_remove removes again: extra_chip LABEL [NAME...] names its first
# lines (8 lines, or one for each name when there are more; the others stay
# unnamed) and prints its /dev path.
EXTRA_CONFIG=/sys/kernel/config/gpio-sim/extra
extra_chip() {
    lines=$(($# - 1 > 8 ? $# - 1 : 8))
    mkdir -p $EXTRA_CONFIG/bank0 && echo "$1" > $EXTRA_CONFIG/bank0/label &&
        echo $lines > $EXTRA_CONFIG/bank0/num_lines || return 1
    shift
    k=0
    for name in "$@"; do
        mkdir $EXTRA_CONFIG/bank0/line$k && echo "$name" > $EXTRA_CONFIG/bank0/line$k/name || return 1
        k=$((k + 1))
    done
    echo 1 > $EXTRA_CONFIG/live || return 1
    chip=/dev/$(cat $EXTRA_CONFIG/bank0/chip_name)
    wait_for "$chip" && echo "$chip"
}
extra_remove() {
    [ -d $EXTRA_CONFIG ] || return 0
    echo 0 > $EXTRA_CONFIG/live
    rmdir $EXTRA_CONFIG/bank0/line* 2>/dev/null
    rmdir $EXTRA_CONFIG/bank0 $EXTRA_CONFIG
}

# Another uleds LED, named as given (uleds takes any name but an empty one,
# '.', '..' and one with a '/'), which fixture_remove removes again.
extra_led() {
    n=0
    while [ -e $FIXTURE/extra-led.$n.pid ]; do n=$((n + 1)); done
    printf '%s' "$1" > $FIXTURE/extra-led.$n.name
    guest-tool led "$1" 1 $FIXTURE/extra-led.$n.log > /dev/null 2>&1 &
    echo $! > $FIXTURE/extra-led.$n.pid
    wait_for $FIXTURE/extra-led.$n.log
}
# The LEDs' processes are not this shell's children: each LED is waited for
# until the kernel has taken it away.
extra_leds_remove() {
    for pid in "$FIXTURE"/extra-led.*.pid; do
        [ -f "$pid" ] || continue
        kill "$(cat "$pid")" 2>/dev/null
        name=$(cat "${pid%.pid}.name")
        i=0
        while [ -e "/sys/class/leds/$name" ] && [ $i -lt 250 ]; do
            sleep 0.02
            i=$((i + 1))
        done
    done
}

# The helpers for the cases.
chip_device() { cat $FIXTURE/bank"$1".chip; }  # bank -> /dev/gpiochipN
sim_dir() { cat $FIXTURE/bank"$1".sim; }        # bank -> its sysfs folder with sim_gpioK
line_value() { cat "$(sim_dir "$1")/sim_gpio$2/value"; }  # bank line -> 0 or 1
bank_values() {  # bank -> the eight values, line 0 first: "0 0 0 0 0 0 0 1"
    values=""
    for k in 0 1 2 3 4 5 6 7; do values="$values${values:+ }$(line_value "$1" $k)"; done
    echo "$values"
}
set_pull() { echo "$3" > "$(sim_dir "$1")/sim_gpio$2/pull"; }  # bank line pull-up|pull-down
set_pulls() {  # bank byte: pull-up where the byte has a 1, line 0 = bit 0
    for k in 0 1 2 3 4 5 6 7; do
        if [ $(($2 >> k & 1)) = 1 ]; then set_pull "$1" $k pull-up; else set_pull "$1" $k pull-down; fi
    done
}
chip_label() { guest-tool info "$(chip_device "$1")" | sed -n '1s/ .*//p'; }
line_info() {  # bank [line] -> "OFFSET NAME CONSUMER FLAGS" for each line or the one
    guest-tool info "$(chip_device "$1")" | sed 1d | if [ -n "$2" ]; then grep "^$2 "; else cat; fi
}
led_brightness() { cat /sys/class/leds/$LED_NAME/brightness; }
led_log() { cat $FIXTURE/led.log; }  # every brightness change since the case began, one a line
as_user() { guest-tool as-user "$@"; }  # uid[,gid...] command... : runs it as that user and group, in those groups
# Debian's udev daemon with the package's rule, on the fixture's chips and LEDs,
# which it has handled once this returns; it ends with the case. The case's
# board description, if it has one, is the system's (/etc/marlek/board.conf),
# which the rule's LED helper reads.
udev_start() {
    if [ -n "${MARLEK_BOARD:-}" ]; then
        mkdir -p /etc/marlek && cp "$MARLEK_BOARD" /etc/marlek/board.conf || return 1
    fi
    # From /, as a service starts: its commands' relative paths are taken from there.
    (cd / && /lib/systemd/systemd-udevd --daemon) > $FIXTURE/udevd.log 2>&1 || { cat $FIXTURE/udevd.log; return 1; }
    udevadm trigger --action=add --subsystem-match=gpio --subsystem-match=leds && udevadm settle --timeout=10
}
group_id() { sed -n "s/^$1:[^:]*:\([0-9]*\):.*/\1/p" /etc/group; }  # group name -> its number

# The board service on the case's board (MARLEK_BOARD), at the socket where
# the library looks for it, its state in $FIXTURE/state, which a restart in
# the same case finds again; as root, or as the user and groups given
# (UID,GID...). It ends with the case. service_stop [SIGNAL] ends it sooner.
SERVICE_FOLDER=/run/marlek-board
SERVICE_SOCKET=$SERVICE_FOLDER/board.sock
service_start() {
    mkdir -p $FIXTURE/state $SERVICE_FOLDER
    rm -f $SERVICE_SOCKET  # one a killed service left: the new one's is waited for
    run=""
    if [ -n "$1" ]; then
        chown "${1%%,*}" $FIXTURE/state $SERVICE_FOLDER && run="guest-tool as-user $1"
    fi
    # shellcheck disable=SC2086
    $run marlek-boardd --socket $SERVICE_SOCKET --state-dir $FIXTURE/state >> $FIXTURE/service.log 2>&1 &
    echo $! > $FIXTURE/service.pid
    wait_for $SERVICE_SOCKET || { cat $FIXTURE/service.log; return 1; }
}
service_stop() {
    [ -f $FIXTURE/service.pid ] || return 0
    pid=$(cat $FIXTURE/service.pid)
    kill -"${1:-TERM}" "$pid" 2>/dev/null
    # Not a child of this shell: gone once it has no process, or a zombie's.
    i=0
    while [ -d /proc/"$pid" ] && ! grep -q '^State:.*Z' /proc/"$pid"/status 2>/dev/null && [ $i -lt 250 ]; do
        sleep 0.02
        i=$((i + 1))
    done
    rm -f $FIXTURE/service.pid
}
service_log() { cat $FIXTURE/service.log; }
# Waits up to 2 s for the service's state file to hold a line: "pins 1 255 0 165".
state_holds() {
    i=0
    until grep -qx "$1" $FIXTURE/state/board.state 2>/dev/null; do
        [ $i -ge 100 ] && { echo "state_holds: no line '$1' in the state file" >&2; return 1; }
        sleep 0.02
        i=$((i + 1))
    done
}
