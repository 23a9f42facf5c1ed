// The board service's loop: one thread, one epoll set, the listening socket,
// the signals and every client. It never waits on one client: each message is
// read as its bytes come, a half message is given HALF_MESSAGE_MS to be
// whole, anything that is not a message of the protocol drops the client at
// once, and an answer a client does not read stops only that client.
//
// A watcher is told every change as it is made: by a call, with the peer that
// made it, or from outside, by the edge events of the input pins, which the
// service follows while anyone watches. What a watcher does not take is
// never waited for: past WATCH_QUEUE_BYTES queued, its changes are counted as
// missed, and once it has taken what was queued it is told how many it
// missed and given the board as it is.
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
inline constexpr size_t WATCH_QUEUE_BYTES = 64 * 1024;

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
    bool watching = false;
    uint32_t missed = 0;       // changes not queued for a watcher that did not take them
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
    void StartWatching(Client& client);
    void Tell(ChangeCause cause, const Peer* peer);
    void SendChange(Client& client, ChangeCause cause, const Peer* peer, uint32_t missed);
    void FollowEdges();
    void EdgesCame(int fd);
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
    size_t watchers_ = 0;
    BoardSnapshot told_;        // the board as the watchers were last told it
    std::vector<int> edges_;    // the pins' requests in the epoll set
};

}  // namespace marlek_linux::service

#endif  // MARLEK_LINUX_SERVICE_SERVER_H
