#include "service_client.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "board_description.h"
#include "descriptors.h"
#include "problem.h"
#include "service_protocol.h"

namespace marlek_linux {

using marlek_board::CloseDescriptor;
using marlek_board::ErrorRecord;
using marlek_board::Operation;

namespace {

constexpr int CONNECT_RETRY_MS = 10;  // a full backlog is tried again this often
constexpr const char* START_ADVICE =
    "start it (sudo systemctl start marlek-board.socket) and see why it stopped (journalctl -u marlek-board)";

LibStatus ServiceFailure(ErrorRecord& failure, const char* format, const char* path, const char* detail) {
    return marlek_board::RecordError(failure, ERROR_SERVICE, format, path, detail);
}

void SleepMs(int ms) {
    timespec pause{0, static_cast<long>(ms) * 1000000L};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

// Waits for events on fd until the deadline; false with errno ETIMEDOUT past it.
bool WaitFor(int fd, short events, int64_t deadline) {
    for (;;) {
        const int64_t left = deadline - NowMs();
        if (left <= 0) {
            errno = ETIMEDOUT;
            return false;
        }
        pollfd one{fd, events, 0};
        const int ready = poll(&one, 1, static_cast<int>(left));
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
    }
}

// The socket blocks, each send or receive at most for this long: the first
// receive of a call waits for its answer without a poll first.
constexpr int BLOCKING_MS = CALL_BOUND_MS - 100;

bool SendAll(int fd, const uint8_t* bytes, size_t size, int64_t deadline) {
    size_t sent = 0;
    while (sent < size) {
        const int64_t left = deadline - NowMs();
        const int flags = MSG_NOSIGNAL | (left < BLOCKING_MS ? MSG_DONTWAIT : 0);
        const ssize_t wrote = send(fd, bytes + sent, size - sent, flags);
        if (wrote > 0) {
            sent += static_cast<size_t>(wrote);
        } else if (wrote < 0 && errno == EINTR) {
            continue;
        } else if (wrote < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitFor(fd, POLLOUT, deadline)) return false;
        } else {
            if (errno == ECONNRESET) errno = EPIPE;
            return false;
        }
    }
    return true;
}

// Reads one whole message into message (MAX_MESSAGE bytes), waiting for its
// bytes first so that one receive takes what has come; EPIPE when the
// service closed the connection first, EPROTO (and protocolProblem) for a
// header this side does not take.
bool ReceiveMessage(int fd, uint8_t* message, int64_t deadline, MessageKind& kind, uint32_t& length,
                    const char** protocolProblem) {
    size_t got = 0;
    size_t whole = MAX_MESSAGE;
    while (got < whole) {
        // Waited for by the receive itself while a whole bound is left, else by poll.
        const bool blocking = deadline - NowMs() >= BLOCKING_MS;
        if (!blocking && !WaitFor(fd, POLLIN, deadline)) return false;
        const ssize_t read = recv(fd, message + got, whole - got, blocking ? 0 : MSG_DONTWAIT);
        if (read < 0 && blocking && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            errno = ETIMEDOUT;
            return false;
        }
        if (read == 0 || (read < 0 && errno == ECONNRESET)) {
            errno = EPIPE;
            return false;
        }
        if (read < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (read < 0) return false;
        got += static_cast<size_t>(read);
        if (got >= HEADER_SIZE && whole == MAX_MESSAGE) {
            const HeaderCheck check = ReadHeader(message, true, kind, length);
            if (check != HeaderCheck::Ok) {
                *protocolProblem = HeaderCheckText(check);
                errno = EPROTO;
                return false;
            }
            whole = HEADER_SIZE + length;
        }
    }
    return true;
}

// The first message of a connection: the program's own description, if it
// names one, which the service holds against its own.
bool SendHello(int fd, int64_t deadline) {
    static uint8_t message[HEADER_SIZE + PATH_TEXT_SIZE];
    const char* board = std::getenv(BOARD_VARIABLE);
    const size_t length = board != nullptr ? strnlen(board, PATH_TEXT_SIZE) : 0;
    return SendAll(fd, message, PutMessage(MessageKind::Hello, board, length, message), deadline);
}

// One call over a connection made already: false with errno as Exchange sets it.
bool CallOver(int fd, const BoardRequest& request, int64_t deadline, LibStatus& status, uint8_t& value,
              ErrorRecord& failure, const char** protocolProblem) {
    static uint8_t answer[MAX_MESSAGE];
    uint8_t body[CALL_BODY];
    PutCall(request, body);
    uint8_t message[HEADER_SIZE + CALL_BODY];
    const size_t size = PutMessage(MessageKind::Call, body, sizeof body, message);
    uint8_t kind = 0;
    uint32_t length = 0;
    if (!Exchange(fd, message, size, deadline, answer, kind, length, protocolProblem)) return false;
    if (static_cast<MessageKind>(kind) != MessageKind::Answer ||
        !TakeAnswer(answer + HEADER_SIZE, length, status, value, failure)) {
        *protocolProblem = "an answer of another form";
        errno = EPROTO;
        return false;
    }
    return true;
}

LibStatus ExchangeFailure(const ServiceClient& client, int error, const char* protocolProblem, ErrorRecord& failure) {
    if (error == ETIMEDOUT) {
        return marlek_board::RecordError(
            failure, ERROR_SERVICE,
            "the board service at %s did not answer within %d s; it is stuck or very busy: see systemctl status "
            "marlek-board, and journalctl -u marlek-board",
            client.path, CALL_BOUND_MS / 1000);
    }
    if (error == EPIPE) {
        return ServiceFailure(failure, "the board service at %s closed the connection without answering: it %s",
                              client.path, "stopped; start it again (sudo systemctl start marlek-board.socket) "
                                           "and see why it stopped (journalctl -u marlek-board)");
    }
    if (error == EPROTO) {
        return marlek_board::RecordError(
            failure, ERROR_SERVICE,
            "the board service at %s sent %s: it is of another version; install the same version of "
            "marlek-board-linux on both sides (dpkg -l marlek-board-linux)",
            client.path, protocolProblem);
    }
    return marlek_board::RecordError(failure, ERROR_SERVICE, "cannot talk to the board service at %s: %s; %s",
                                     client.path, std::strerror(error), START_ADVICE);
}

// Makes a connected socket block, each send and receive for BLOCKING_MS at most.
bool Blocking(int fd) {
    const timeval bound{BLOCKING_MS / 1000, (BLOCKING_MS % 1000) * 1000};
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound) != 0) {
        return false;
    }
    return true;
}

}  // namespace

int64_t NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool ServicePath(char (&path)[108], bool& named) {
    const char* variable = std::getenv(SERVICE_VARIABLE);
    named = variable != nullptr && *variable != '\0';
    std::snprintf(path, sizeof path, "%s", named ? variable : DEFAULT_SERVICE_PATH);
    if (named) return true;
    struct stat status {};
    return lstat(DEFAULT_SERVICE_PATH, &status) == 0 || (errno != ENOENT && errno != ENOTDIR);
}

bool UsesService(ServiceClient& client) {
    if (!client.chosen) {
        client.viaService = ServicePath(client.path, client.named);
        client.chosen = true;
    }
    return client.viaService;
}

int ConnectToService(const char* path, bool named, ErrorRecord& failure) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::strlen(path) >= sizeof address.sun_path) {
        marlek_board::RecordError(failure, ERROR_SERVICE,
                                  "the board service's socket %s is a path longer than %zu bytes, which a socket "
                                  "cannot have; name a shorter one in MARLEK_BOARD_SERVICE",
                                  path, sizeof address.sun_path - 1);
        return -1;
    }
    std::memcpy(address.sun_path, path, std::strlen(path) + 1);
    int fd = marlek_board::AboveStandardStreams(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd < 0) {
        ServiceFailure(failure, "cannot make a socket for the board service at %s: %s", path, std::strerror(errno));
        return -1;
    }
    const int64_t deadline = NowMs() + CALL_BOUND_MS;
    for (;;) {
        if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 && Blocking(fd)) return fd;
        const int error = errno;
        if (error == EINTR) continue;
        if (error == EAGAIN && NowMs() + CONNECT_RETRY_MS < deadline) {
            SleepMs(CONNECT_RETRY_MS);  // its backlog is full for now
            continue;
        }
        CloseDescriptor(fd);
        if (error == EACCES || error == EPERM) {
            marlek_board::RecordError(failure, ERROR_PERMISSION,
                                      "cannot connect to the board service at %s: Permission denied; join the group "
                                      "that owns it (ls -l %s; on Debian, gpio: sudo adduser USER gpio, then log in "
                                      "again), or run as root",
                                      path, path);
        } else if (error == ENOENT && named) {
            marlek_board::RecordError(failure, ERROR_SERVICE,
                                      "cannot reach the board service: %s is not there (MARLEK_BOARD_SERVICE names "
                                      "it); start what makes it (for a board elsewhere: ssh -L %s:%s BOARD), or "
                                      "unset MARLEK_BOARD_SERVICE",
                                      path, path, DEFAULT_SERVICE_PATH);
        } else if (error == ECONNREFUSED || error == ENOENT) {
            ServiceFailure(failure, "the board service does not answer at %s (%s): it is not running; "
                           "start it (sudo systemctl start marlek-board.socket) and see why it stopped "
                           "(journalctl -u marlek-board)", path, std::strerror(error));
        } else if (error == EAGAIN) {
            marlek_board::RecordError(failure, ERROR_SERVICE,
                                      "the board service at %s did not take the connection within %d s: it is stuck "
                                      "or very busy; see systemctl status marlek-board",
                                      path, CALL_BOUND_MS / 1000);
        } else {
            ServiceFailure(failure, "cannot connect to the board service at %s: %s; name its socket in "
                           "MARLEK_BOARD_SERVICE, or unset it", path, std::strerror(error));
        }
        return -1;
    }
}

bool Exchange(int fd, const uint8_t* message, size_t size, int64_t deadline, uint8_t* answer, uint8_t& kind,
              uint32_t& length, const char** protocolProblem) {
    // A service that refuses the connection (it serves as many programs as
    // it may) answers before it closes: what it said is read even when the
    // message could not be sent.
    const bool sent = SendAll(fd, message, size, deadline);
    const int sendError = errno;
    if (!sent && sendError != EPIPE) return false;
    MessageKind taken{};
    if (!ReceiveMessage(fd, answer, deadline, taken, length, protocolProblem)) {
        if (!sent && errno != EPROTO) errno = sendError;
        return false;
    }
    kind = static_cast<uint8_t>(taken);
    return true;
}

LibStatus ServiceCall(ServiceClient& client, const BoardRequest& request, uint8_t& value, ErrorRecord& failure) {
    const int64_t deadline = NowMs() + CALL_BOUND_MS;
    const char* protocolProblem = "";
    for (int attempt = 0;; ++attempt) {
        const bool fresh = client.fd < 0;
        if (fresh) {
            client.fd = ConnectToService(client.path, client.named, failure);
            if (client.fd < 0) return failure.code;
            // A service that refuses the connection may have closed it
            // already: its answer is read all the same.
            if (!SendHello(client.fd, deadline) && errno != EPIPE) {
                const int error = errno;
                CloseDescriptor(client.fd);
                return ExchangeFailure(client, error, protocolProblem, failure);
            }
        }
        LibStatus status = 0;
        bool talking = true;
        // A run whose digital I/O was open at a service that has been
        // restarted opens it again first.
        if (fresh && client.dioOpenThere && request.operation != Operation::DIOInit) {
            uint8_t ignored = 0;
            talking = CallOver(client.fd, BoardRequest{}, deadline, status, ignored, failure, &protocolProblem);
            if (talking && status != 0) {
                client.dioOpenThere = false;
                return status;
            }
        }
        if (talking && CallOver(client.fd, request, deadline, status, value, failure, &protocolProblem)) {
            if (status == 0 && request.operation == Operation::DIOInit) client.dioOpenThere = true;
            if (status == 0 && request.operation == Operation::DIOFree) client.dioOpenThere = false;
            return status;
        }
        const int error = errno;
        CloseDescriptor(client.fd);
        // A connection the service closed is made again once: it has been restarted.
        if (error == EPIPE && !fresh && attempt == 0) continue;
        return ExchangeFailure(client, error, protocolProblem, failure);
    }
}

}  // namespace marlek_linux
