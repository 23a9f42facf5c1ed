// The board library's side of the board service: when the service's socket
// is there, every call of a run goes to the service, which holds the board
// for every program; when it is not, the run drives the kernel itself.
//
// The socket is the one MARLEK_BOARD_SERVICE names (which must then be
// there), else /run/marlek-board/board.sock where it exists. A run keeps one
// connection. No call waits longer than CALL_BOUND_MS for the service, from
// connecting to its answer; a connection the service closed (it was restarted)
// is made again once, with the run's digital I/O opened again where it was.
#ifndef MARLEK_LINUX_SERVICE_CLIENT_H
#define MARLEK_LINUX_SERVICE_CLIENT_H

#include <cstdint>

#include "board_engine.h"
#include "error_record.h"

namespace marlek_linux {

inline constexpr int CALL_BOUND_MS = 5000;

struct ServiceClient {
    bool chosen = false;      // the route is decided, for the whole run
    bool viaService = false;  // the calls go to the service
    bool named = false;       // MARLEK_BOARD_SERVICE names the socket
    char path[108] = "";      // the socket's, as sockaddr_un takes it
    int fd = -1;
    bool dioOpenThere = false;  // the run's digital I/O is open at the service
};

// Decides once for the run whether its calls go to the service; true when they do.
bool UsesService(ServiceClient& client);

// A call through the service, as RunBoardCall would make it: its status, the
// value read, and the failure in failure.
LibStatus ServiceCall(ServiceClient& client, const BoardRequest& request, uint8_t& value,
                      marlek_board::ErrorRecord& failure);

// The socket's path as the library would choose it, and whether it is named
// by MARLEK_BOARD_SERVICE; false when the default socket is not there.
bool ServicePath(char (&path)[108], bool& named);

// Connects to the socket at path within the bound: the descriptor, or -1 with
// the failure recorded (code ERROR_SERVICE, or 13 when the socket refuses the
// user) and a text that names the socket and says what to do.
int ConnectToService(const char* path, bool named, marlek_board::ErrorRecord& failure);

// Sends a whole message and reads the whole answer into answer (at most
// MAX_MESSAGE bytes) before the deadline (CLOCK_MONOTONIC, ms). The answer's
// kind and body length; false with errno set (ETIMEDOUT past the deadline,
// EPIPE when the service closed the connection, EPROTO for an answer this
// library cannot read, and then what was wrong in protocolProblem).
bool Exchange(int fd, const uint8_t* message, size_t size, int64_t deadline, uint8_t* answer, uint8_t& kind,
              uint32_t& length, const char** protocolProblem);

// Now on CLOCK_MONOTONIC, in ms.
int64_t NowMs();

}  // namespace marlek_linux

#endif  // MARLEK_LINUX_SERVICE_CLIENT_H
