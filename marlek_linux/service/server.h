// The board service's loop: one thread, one epoll set, the listening socket,
// the signals and every client. It never waits on one client: each message is
// read as its bytes come, a half message is given HALF_MESSAGE_MS to be
// whole, anything that is not a message of the protocol drops the client at
// once, and an answer a client does not read stops only that client.
//
// A watcher is told every change as it is made: by a call, with the peer that
// made it, or from outside, by the edge events of the input pins, which the
// service follows while anyone watches. The pins' levels are read after each
// call that may change them, but at most once every WATCH_FLUSH_MS while
// calls come faster: the calls meanwhile are told at once with the levels as
// last read, and the read they owe is made when their changes go out. The
// changes go out in batches, within WATCH_FLUSH_MS of the first of each, so
// that a watch wakes once for many. What a watcher does not take is
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
inline constexpr int WATCH_FLUSH_MS = 20;

// Who is at the other end of a connection, from the socket's credentials.
struct Peer {
    uid_t uid = 0;
    pid_t pid = 0;
    std::string program;  // the process's name (its comm), as the kernel has it
    std::string user;     // the uid's name in /etc/passwd; empty when it has none there
    uint8_t who[CHANGE_WHO_SIZE] = {};  // all four as each change of the client tells them
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
    // The watchers' changes are queued and go out together, within
    // WATCH_FLUSH_MS of the first.
    void FlushWatchers();
    void Flush(Client& client);
    void Watch(Client& client);
    void Drop(int fd, const std::string& why);
    void StartWatching(Client& client);
    // How a change takes the pins' levels: read now; as last read, the read
    // left owed; or read now, paying what calls owed, whose change it is.
    enum class Levels { Read, Kept, Owed };
    void Tell(ChangeCause cause, const Peer* peer, Levels levels);
    void Queue(const BoardSnapshot& now, ChangeCause cause, const Peer* peer, bool levelsByCall);
    // Before a call (pins: it may change the pins): what other calls owe is
    // told first, so that the changes go out in order, each as its maker's.
    void SettleOwedLevels(ChangeCause cause, const Peer* peer, bool pins);
    // After it.
    void TellCall(ChangeCause cause, const Peer* peer, bool pins);
    bool OwedBy(ChangeCause cause, const Peer* peer) const;
    void PayOwedLevels();
    // The board as it is, at once: to a new watcher, or one that missed changes.
    void SendChange(Client& client, uint32_t missed);
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
    int64_t watchFlushAt_ = -1; // when the watchers' queued changes go out; -1: none queued
    int64_t levelsReadAt_ = -1; // when the pins' levels were last read for the watchers
    bool levelsOwed_ = false;   // calls since then may have changed them: read when the changes go out
    ChangeCause owedCause_ = ChangeCause::Call;  // Outside: reads owe it, and no peer
    Peer owedPeer_;             // the last of the calls that owe the read, when they are Call's
};

}  // namespace marlek_linux::service

#endif  // MARLEK_LINUX_SERVICE_SERVER_H
