// The board service's loop: one thread, one epoll set, the listening socket,
// the signals and every client. It never waits on one client: each message is
// read as its bytes come, a half message is given HALF_MESSAGE_MS to be
// whole, anything that is not a message of the protocol drops the client at
// once, and an answer a client does not read stops only that client.
#ifndef MARLEK_LINUX_SERVICE_SERVER_H
#define MARLEK_LINUX_SERVICE_SERVER_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <sys/types.h>

#include "board_engine.h"
#include "board_keeper.h"

namespace marlek_linux::service {

inline constexpr size_t MAX_CLIENTS = 64;
inline constexpr int HALF_MESSAGE_MS = 1000;

// Who is at the other end of a connection, from the socket's credentials.
struct Peer {
    uid_t uid = 0;
    pid_t pid = 0;
    std::string program;  // the process's name (its comm), as the kernel has it
};

struct Client {
    int fd = -1;
    Peer peer;
    RunState run;
    bool greeted = false;
    std::string board;  // the program's MARLEK_BOARD, from its hello
    std::vector<uint8_t> in;
    std::vector<uint8_t> out;  // what is still to be sent
    int64_t halfSince = -1;    // when the half message in `in` began; -1: none
    bool waitsToSend = false;  // the epoll set waits for room to send, not for input
};

class Server {
public:
    Server(int listenFd, std::string socketPath, BoardKeeper& keeper, Log log);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Serves until SIGTERM or SIGINT; the exit status.
    int Run();

private:
    void Accept();
    void Refuse(int fd, const char* format, const std::string& detail);
    void Readable(Client& client);
    void Writable(Client& client);
    bool TakeMessages(Client& client);
    bool Handle(Client& client, uint8_t kind, const uint8_t* body, uint32_t length);
    void Send(Client& client, uint8_t kind, const void* body, size_t length);
    void Flush(Client& client);
    void Watch(Client& client);
    void Drop(int fd, const std::string& why);
    void DropHalfMessages();
    int WaitMs() const;

    int listen_;
    std::string socketPath_;
    BoardKeeper& keeper_;
    Log log_;
    int epoll_ = -1;
    int signals_ = -1;
    std::map<int, Client> clients_;
    std::vector<int> dropped_;  // to be closed once the events at hand are done
};

}  // namespace marlek_linux::service

#endif  // MARLEK_LINUX_SERVICE_SERVER_H
