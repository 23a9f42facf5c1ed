// marlek-boardd: the board service. It holds the board that the board
// description names for every program that uses the Linux board library, so
// that the board is one board shared by every run, and what a program sets
// stays when it ends:
//
//   marlek-boardd [--socket PATH [--group GROUP]] [--board FILE] [--state-dir DIR]
//
// Started by systemd, it takes the socket of marlek-board.socket; with
// --socket it makes the socket itself, for boards without systemd.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "board_description.h"
#include "board_keeper.h"
#include "gpio.h"
#include "server.h"
#include "service_protocol.h"
#include "terminal_text.h"

#ifndef MARLEK_VERSION
#define MARLEK_VERSION "0"
#endif
#ifndef MARLEK_PROJECT_TITLE
#define MARLEK_PROJECT_TITLE "Marlek board tools"
#endif

namespace marlek_linux::service {
namespace {

constexpr const char* NAME = "marlek-boardd";
constexpr const char* DEFAULT_STATE_FOLDER = "/var/lib/marlek-board";
constexpr const char* DEFAULT_GROUP = "gpio";
constexpr int EXIT_CANNOT_START = 1;
constexpr int EXIT_USAGE = 2;
constexpr int SYSTEMD_FIRST_FD = 3;

constexpr const char* USAGE =
    "usage: marlek-boardd [--socket PATH [--group GROUP]] [--board FILE] [--state-dir DIR]\n"
    "Holds the board that the board description names for every program of the\n"
    "Linux board library. Without --socket it takes the socket systemd passes.\n"
    "  --socket PATH    make the socket at PATH, for the group GROUP (gpio), mode 0660\n"
    "  --board FILE     the board description (MARLEK_BOARD, else /etc/marlek/board.conf)\n"
    "  --state-dir DIR  where the board's state is kept (STATE_DIRECTORY, else /var/lib/marlek-board)\n";

// Every message goes to standard error, one line each, escaped: paths and
// texts in it come from outside.
void Say(const std::string& text) {
    const std::string line = std::string(NAME) + ": " + text;
    std::vector<char> escaped(line.size() * 4 + 1);
    marlek_board::EscapeForTerminal(line.data(), line.size(), escaped.data(), escaped.size());
    std::fprintf(stderr, "%s\n", escaped.data());
}

struct Options {
    std::string socket;
    std::string group = DEFAULT_GROUP;
    std::string board;
    PathOrigin origin = PathOrigin::Default;
    std::string stateFolder;
};

int Usage(const std::string& problem) {
    Say(problem);
    std::fputs(USAGE, stderr);
    return EXIT_USAGE;
}

// The options; -1 to go on, else the exit status.
int ReadOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view name = argv[i];
        if (name == "--help" || name == "-h") {
            std::fputs(USAGE, stdout);
            return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
        }
        if (name == "--version") {
            std::printf("%s (%s) %s\n", NAME, MARLEK_PROJECT_TITLE, MARLEK_VERSION);
            return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
        }
        std::string* value = name == "--socket"      ? &options.socket
                             : name == "--group"     ? &options.group
                             : name == "--board"     ? &options.board
                             : name == "--state-dir" ? &options.stateFolder
                                                     : nullptr;
        if (value == nullptr) return Usage("'" + std::string(name) + "' is not an option");
        if (i + 1 == argc || argv[i + 1][0] == '\0') return Usage(std::string(name) + " needs a value");
        *value = argv[++i];
        if (name == "--board") options.origin = PathOrigin::Argument;
    }
    if (options.board.empty()) {
        options.board = DescriptionPath();
        options.origin = DescriptionOrigin();
    }
    if (options.stateFolder.empty()) {
        // systemd's StateDirectory= may name several; the first is the service's.
        const char* given = std::getenv("STATE_DIRECTORY");
        options.stateFolder = given != nullptr && *given != '\0' ? given : DEFAULT_STATE_FOLDER;
        options.stateFolder = options.stateFolder.substr(0, options.stateFolder.find(':'));
    }
    return -1;
}

// The listening socket systemd passes (LISTEN_FDS), or -1 when it passes none.
int SocketFromSystemd(std::string& problem) {
    const char* pid = std::getenv("LISTEN_PID");
    const char* fds = std::getenv("LISTEN_FDS");
    if (pid == nullptr || fds == nullptr || std::to_string(getpid()) != pid) return -1;
    unsetenv("LISTEN_PID");
    unsetenv("LISTEN_FDS");
    unsetenv("LISTEN_FDNAMES");
    int listening = 0;
    int type = 0;
    socklen_t size = sizeof listening;
    socklen_t typeSize = sizeof type;
    if (std::string_view(fds) != "1" ||
        getsockopt(SYSTEMD_FIRST_FD, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) != 0 || listening == 0 ||
        getsockopt(SYSTEMD_FIRST_FD, SOL_SOCKET, SO_TYPE, &type, &typeSize) != 0 || type != SOCK_STREAM) {
        problem = "systemd passed " + std::string(fds) +
                  " descriptors, not one listening stream socket: the socket unit must have one ListenStream=";
        return -1;
    }
    const int flags = fcntl(SYSTEMD_FIRST_FD, F_GETFL);
    fcntl(SYSTEMD_FIRST_FD, F_SETFL, flags | O_NONBLOCK);
    fcntl(SYSTEMD_FIRST_FD, F_SETFD, FD_CLOEXEC);
    return SYSTEMD_FIRST_FD;
}

std::string SocketPathOf(int fd) {
    sockaddr_un address{};
    socklen_t size = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0 || address.sun_family != AF_UNIX) return "";
    return std::string(address.sun_path, strnlen(address.sun_path, sizeof address.sun_path));
}

// Whether a service answers at the socket path.
bool Answers(const sockaddr_un& address) {
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool answers = probe >= 0 && connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (probe >= 0) close(probe);
    return answers;
}

// Whether the socket can be made at path: a socket there that no service
// answers on is one a service left, and is replaced; anything else is left alone.
bool SocketPathFree(const std::string& path, sockaddr_un& address, std::string& problem) {
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        problem = "the socket path " + path + " is longer than a socket's path may be; name a shorter one";
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    struct stat there {};
    if (lstat(path.c_str(), &there) != 0) return true;
    if (!S_ISSOCK(there.st_mode)) {
        problem = path + " is " + FileKind(there.st_mode) + ", not a socket a service left; remove it or name another path";
        return false;
    }
    if (Answers(address)) {
        problem = "a service answers at " + path + " already; stop it first, or name another path";
        return false;
    }
    return true;
}

// Makes the socket at path for the group, mode 0660; its inode in made.
int MakeSocket(const std::string& path, const sockaddr_un& address, const std::string& groupName, ino_t& made,
               std::string& problem) {
    const group* owners = getgrnam(groupName.c_str());
    if (owners == nullptr) {
        problem = "there is no group " + groupName + " to give the socket to; make it (addgroup --system " +
                  groupName + ") or name another with --group";
        return -1;
    }
    unlink(path.c_str());  // what SocketPathFree found free
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) mkdir(path.substr(0, slash).c_str(), 0755);  // one level: /run/marlek-board
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const mode_t before = umask(0117);  // made 0660, never more open for a moment
    const bool bound = fd >= 0 && bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    umask(before);
    struct stat there {};
    if (!bound || chown(path.c_str(), static_cast<uid_t>(-1), owners->gr_gid) != 0 || chmod(path.c_str(), 0660) != 0 ||
        listen(fd, SOMAXCONN) != 0 || stat(path.c_str(), &there) != 0) {
        problem = "cannot make the socket " + path + " for the group " + groupName + ": " + std::strerror(errno) +
                  (errno == EPERM ? "; run the service as a member of " + groupName : "");
        if (bound) unlink(path.c_str());
        if (fd >= 0) close(fd);
        return -1;
    }
    made = there.st_ino;
    return fd;
}

int Serve(const Options& options) {
    std::string problem;
    int listening = SocketFromSystemd(problem);
    sockaddr_un address{};
    if (listening < 0 && problem.empty() && options.socket.empty()) {
        problem = "no socket to serve on: start it with its socket unit (systemctl start marlek-board.socket), or "
                  "give --socket PATH";
    }
    if (!problem.empty() || (listening < 0 && !SocketPathFree(options.socket, address, problem))) {
        Say(problem);
        return EXIT_CANNOT_START;
    }
    const int stateFolder = OpenStateFolder(options.stateFolder);
    if (stateFolder < 0) {
        Say("cannot open the state folder " + options.stateFolder + ": " + std::strerror(errno) +
            "; the board's state is not kept across restarts (give --state-dir DIR)");
    }
    UseConsumer(SERVICE_CONSUMER);
    int status = EXIT_CANNOT_START;
    ino_t made = 0;
    {
        // The board is given back before the socket is made: a program that
        // finds the socket finds the board as it was held.
        BoardKeeper keeper(options.board, options.origin, stateFolder, Say);
        keeper.Start();
        if (listening < 0) listening = MakeSocket(options.socket, address, options.group, made, problem);
        if (listening >= 0) {
            const std::string path = options.socket.empty() ? SocketPathOf(listening) : options.socket;
            Say("serves the board at " + path + " as " + options.board + " describes it");
            Server server(listening, path, keeper, Say);
            status = server.Run();
        } else {
            Say(problem);
        }
    }
    struct stat there {};
    if (made != 0 && lstat(options.socket.c_str(), &there) == 0 && there.st_ino == made) unlink(options.socket.c_str());
    if (listening >= 0) close(listening);
    if (stateFolder >= 0) close(stateFolder);
    return status;
}

}  // namespace
}  // namespace marlek_linux::service

int main(int argc, char** argv) {
    marlek_linux::service::Options options;
    const int status = marlek_linux::service::ReadOptions(argc, argv, options);
    if (status >= 0) return status;
    return marlek_linux::service::Serve(options);
}
