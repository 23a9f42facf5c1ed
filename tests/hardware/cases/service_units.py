"""The board service's systemd units as the package installs them into the
guest's root: the socket that marlek-board.socket has systemd make (its path,
mode and group) is the one that the service makes itself without systemd,
and the one where the library finds the service."""
from hardware_case import Case
from linux_board import BOARD

SOCKET_UNIT = "/lib/systemd/system/marlek-board.socket"
# The unit's ListenStream=, SocketMode= (without its leading 0, as stat prints
# a mode) and SocketGroup=; then the service started at that path without
# systemd (service_start, as root, with no --group), and the socket as it is.
AS_BOUND = (f"u={SOCKET_UNIT}; p=$(sed -n 's/^ListenStream=//p' $u); "
            "echo \"unit: $p $(sed -n 's/^SocketMode=0*//p' $u) $(sed -n 's/^SocketGroup=//p' $u)\"; "
            "SERVICE_SOCKET=$p; SERVICE_FOLDER=${p%/*}; service_start && "
            "echo \"bound: $p $(stat -c '%a %G' \"$p\")\"")
SOCKET_AS_BOUND = "/run/marlek-board/board.sock 660 gpio"

CASES = [
    Case("socket_as_bound", AS_BOUND, stdout=f"unit: {SOCKET_AS_BOUND}\nbound: {SOCKET_AS_BOUND}\n", board=BOARD,
         # The library finds the service there: the line's consumer is the service.
         checks=[("printf '1\\nq\\n' | pinio > /dev/null; line_info 0 0 | cut -d' ' -f1-3", "0 DIO0 marlek-boardd")]),
]
