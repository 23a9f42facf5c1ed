#include "server.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <linux/gpio.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "descriptors.h"
#include "problem.h"
#include "service_client.h"
#include "service_protocol.h"

namespace marlek_linux::service {

namespace {

constexpr int MAX_EVENTS = 32;

std::string ProgramOf(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/comm", static_cast<int>(pid));
    const int fd = marlek_board::OpenDescriptor(path, O_RDONLY);
    if (fd < 0) return "?";
    char name[64] = "";
    const ssize_t got = read(fd, name, sizeof name - 1);
    close(fd);
    std::string program(name, got > 0 ? static_cast<size_t>(got) : 0);
    while (!program.empty() && program.back() == '\n') program.pop_back();
    program.resize(std::min(program.size(), PROGRAM_NAME_SIZE));
    return program.empty() ? "?" : program;
}

// The name of a uid in /etc/passwd, read as a file: a name service could
// keep the service waiting, and the service waits on nothing.
std::string UserOf(uid_t uid) {
    const int fd = marlek_board::OpenDescriptor("/etc/passwd", O_RDONLY | O_NONBLOCK);
    if (fd < 0) return "";
    static char text[1 << 20];
    size_t length = 0;
    ssize_t got = 0;
    while (length < sizeof text - 1 && (got = read(fd, text + length, sizeof text - 1 - length)) > 0) {
        length += static_cast<size_t>(got);
    }
    close(fd);
    text[length] = '\0';
    const std::string wanted = ":" + std::to_string(uid) + ":";
    for (char* line = text; line < text + length;) {
        char* end = std::strchr(line, '\n');
        if (end != nullptr) *end = '\0';
        // name:password:uid:...
        const char* first = std::strchr(line, ':');
        const char* second = first != nullptr ? std::strchr(first + 1, ':') : nullptr;
        if (second != nullptr && std::strncmp(second, wanted.c_str(), wanted.size()) == 0 &&
            static_cast<size_t>(first - line) <= USER_NAME_SIZE) {
            return std::string(line, static_cast<size_t>(first - line));
        }
        if (end == nullptr) break;
        line = end + 1;
    }
    return "";
}

Peer PeerOf(int fd) {
    Peer peer;
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0) {
        peer.uid = credentials.uid;
        peer.pid = credentials.pid;
        peer.program = ProgramOf(credentials.pid);
        peer.user = UserOf(credentials.uid);
    } else {
        peer.program = "?";
    }
    // Each name kept within its room.
    PutChangeWho(peer.uid, peer.pid, peer.program.c_str(), peer.user.c_str(), peer.who);
    return peer;
}

bool SamePeer(const Peer& a, const Peer& b) { return a.pid == b.pid && a.uid == b.uid && a.program == b.program; }

// A change as it travels, stamped with the wall clock now.
void ChangeMessage(ChangeCause cause, const Peer* peer, uint32_t missed, const BoardSnapshot& board,
                   uint8_t (&message)[HEADER_SIZE + CHANGE_BODY]) {
    static const uint8_t nobody[CHANGE_WHO_SIZE] = {};  // uid and pid 0, no names
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const int64_t timeMs = static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    PutChangeMessage(cause, missed, timeMs, peer != nullptr ? peer->who : nobody, board, message);
}

}  // namespace

Server::Server(int listenFd, std::string socketPath, BoardKeeper& keeper, Log log)
    : listen_(listenFd), socketPath_(std::move(socketPath)), keeper_(keeper), log_(log) {}

Server::~Server() {
    for (auto& [fd, client] : clients_) close(fd);
    if (signals_ >= 0) close(signals_);
    if (epoll_ >= 0) close(epoll_);
}

int Server::Run() {
    sigset_t handled;
    sigemptyset(&handled);
    sigaddset(&handled, SIGTERM);
    sigaddset(&handled, SIGINT);
    sigaddset(&handled, SIGHUP);
    std::signal(SIGPIPE, SIG_IGN);
    if (sigprocmask(SIG_BLOCK, &handled, nullptr) != 0 ||
        (signals_ = signalfd(-1, &handled, SFD_CLOEXEC | SFD_NONBLOCK)) < 0 ||
        (epoll_ = epoll_create1(EPOLL_CLOEXEC)) < 0) {
        log_(std::string("cannot wait for clients and signals: ") + std::strerror(errno));
        return 1;
    }
    for (const int fd : {listen_, signals_}) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) != 0) {
            log_(std::string("cannot wait for clients and signals: ") + std::strerror(errno));
            return 1;
        }
    }
    epoll_event events[MAX_EVENTS];
    for (;;) {
        const int ready = epoll_wait(epoll_, events, MAX_EVENTS, WaitMs());
        if (ready < 0 && errno != EINTR) {
            log_(std::string("cannot wait for clients: ") + std::strerror(errno));
            return 1;
        }
        for (int i = 0; i < ready; ++i) {
            const int fd = events[i].data.fd;
            if (fd == signals_) {
                signalfd_siginfo signal{};
                while (read(signals_, &signal, sizeof signal) == static_cast<ssize_t>(sizeof signal)) {
                    if (signal.ssi_signo == SIGHUP) {
                        keeper_.Refresh(true);
                        FollowEdges();
                        Tell(ChangeCause::Now, nullptr, Levels::Read);
                    } else {
                        log_("stopping: every line is given back");
                        return 0;
                    }
                }
                continue;
            }
            if (fd == listen_) {
                Accept();
                continue;
            }
            if (std::find(edges_.begin(), edges_.end(), fd) != edges_.end()) {
                EdgesCame(fd);
                continue;
            }
            if ((events[i].events & EPOLLOUT) != 0 && clients_.count(fd) != 0) Writable(clients_.at(fd));
            // A watcher is heard while its changes wait, so that its end is seen.
            if ((events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) != 0 && clients_.count(fd) != 0 &&
                (clients_.at(fd).out.empty() || clients_.at(fd).watching)) {
                Readable(clients_.at(fd));
            }
        }
        DropHalfMessages();
        if (watchFlushAt_ >= 0 && NowMs() >= watchFlushAt_) FlushWatchers();
        // A program that has ended leaves its last change saved at once.
        if (keeper_.SaveDueMs() == 0 || !dropped_.empty()) keeper_.SaveNow();
        for (const int fd : dropped_) close(fd);
        dropped_.clear();
    }
}

int Server::WaitMs() const {
    int64_t soonest = -1;
    for (const auto& [fd, client] : clients_) {
        if (client.halfSince >= 0 && (soonest < 0 || client.halfSince < soonest)) soonest = client.halfSince;
    }
    // Nothing to time: no wake-up until something happens.
    int wait = keeper_.SaveDueMs();
    const int64_t now = NowMs();
    auto sooner = [&wait, now](int64_t at) {
        const int left = at > now ? static_cast<int>(at - now) : 0;
        if (wait < 0 || left < wait) wait = left;
    };
    if (soonest >= 0) sooner(soonest + HALF_MESSAGE_MS);
    if (watchFlushAt_ >= 0) sooner(watchFlushAt_);
    return wait;
}

void Server::DropHalfMessages() {
    const int64_t now = NowMs();
    std::vector<int> late;
    for (const auto& [fd, client] : clients_) {
        if (client.halfSince >= 0 && now - client.halfSince >= HALF_MESSAGE_MS) late.push_back(fd);
    }
    for (const int fd : late) Drop(fd, "it sent half a message and nothing more for a second");
}

void Server::Accept() {
    for (;;) {
        const int fd = marlek_board::AboveStandardStreams(accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (fd < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED) {
                log_(std::string("cannot take a connection: ") + std::strerror(errno));
            }
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return;
        }
        if (clients_.size() >= MAX_CLIENTS) {
            Refuse(fd, "the board service at %s serves %s programs already; end one of them, or try again later",
                   std::to_string(MAX_CLIENTS));
            continue;
        }
        // A program starting: the description is taken again if it has changed.
        keeper_.Refresh(false);
        FollowEdges();
        Client& client = clients_[fd];
        client.fd = fd;
        client.peer = PeerOf(fd);
        client.in.reserve(MAX_MESSAGE);
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) != 0) {
            log_(std::string("cannot wait for a client: ") + std::strerror(errno));
            clients_.erase(fd);
            close(fd);
        }
    }
}

// Answers a connection that cannot be served with a failed call, whatever it
// asks, and closes it; what it sent meanwhile is read first, so that the
// answer is not lost to a reset.
void Server::Refuse(int fd, const char* format, const std::string& detail) {
    marlek_board::ErrorRecord failure;
    const LibStatus status =
        marlek_board::RecordError(failure, ERROR_SERVICE, format, socketPath_.c_str(), detail.c_str());
    static uint8_t body[MAX_BODY];
    static uint8_t message[MAX_MESSAGE];
    const size_t size = PutMessage(MessageKind::Answer, body, PutAnswer(status, 0, failure, body), message);
    (void)!send(fd, message, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    shutdown(fd, SHUT_WR);
    char drained[512];
    while (recv(fd, drained, sizeof drained, MSG_DONTWAIT) > 0) {
    }
    close(fd);
}

void Server::Drop(int fd, const std::string& why) {
    const auto found = clients_.find(fd);
    if (found == clients_.end()) return;
    const Peer& peer = found->second.peer;
    if (!why.empty()) {
        log_("dropped " + peer.program + " (pid " + std::to_string(peer.pid) + ", uid " + std::to_string(peer.uid) +
             "): " + why);
    }
    if (found->second.watching && --watchers_ == 0) {
        FollowEdges();
        levelsOwed_ = false;
    }
    epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    clients_.erase(found);
    dropped_.push_back(fd);
}

void Server::Readable(Client& client) {
    uint8_t buffer[MAX_MESSAGE];
    const size_t room = MAX_MESSAGE - client.in.size();
    const ssize_t got = recv(client.fd, buffer, room, 0);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    if (got <= 0) {
        // The program has ended; a half message it left changes nothing.
        Drop(client.fd, "");
        return;
    }
    client.in.insert(client.in.end(), buffer, buffer + got);
    TakeMessages(client);
}

// Handles every whole message in the client's input; false when it was dropped.
bool Server::TakeMessages(Client& client) {
    const int fd = client.fd;
    size_t used = 0;
    while (client.out.empty()) {
        const size_t left = client.in.size() - used;
        const uint8_t* at = client.in.data() + used;
        // A wrong mark or version is refused as soon as its byte is there.
        uint8_t header[HEADER_SIZE] = {'M', 'B', PROTOCOL_VERSION, static_cast<uint8_t>(MessageKind::Hello)};
        std::memcpy(header, at, left < HEADER_SIZE ? left : HEADER_SIZE);
        MessageKind kind{};
        uint32_t length = 0;
        const HeaderCheck check = ReadHeader(header, false, kind, length);
        if (check != HeaderCheck::Ok && (left >= HEADER_SIZE || check != HeaderCheck::TooLong)) {
            Refuse(dup(fd), "the board service at %s refused %s from this program", HeaderCheckText(check));
            Drop(fd, std::string("it sent ") + HeaderCheckText(check));
            return false;
        }
        if (left < HEADER_SIZE || left - HEADER_SIZE < length) break;
        if (!Handle(client, static_cast<uint8_t>(kind), at + HEADER_SIZE, length)) return false;
        if (clients_.count(fd) == 0) return false;  // gone while its answer was sent
        used += HEADER_SIZE + length;
    }
    client.in.erase(client.in.begin(), client.in.begin() + static_cast<std::ptrdiff_t>(used));
    if (client.watching) client.in.clear();  // a watcher says nothing more that is heard
    if (client.in.empty()) {
        client.halfSince = -1;
    } else if (client.halfSince < 0 || used > 0) {
        client.halfSince = NowMs();
    }
    return true;
}

bool Server::Handle(Client& client, uint8_t kind, const uint8_t* body, uint32_t length) {
    switch (static_cast<MessageKind>(kind)) {
        case MessageKind::Hello:
            if (client.greeted || length > PATH_TEXT_SIZE) break;
            client.greeted = true;
            client.board.assign(reinterpret_cast<const char*>(body), length);
            return true;
        case MessageKind::Call: {
            BoardRequest request;
            if (!TakeCall(body, length, request)) break;
            // A read that finds other levels tells a change from outside.
            using marlek_board::Operation;
            const bool reads =
                request.operation == Operation::DIOInputByte || request.operation == Operation::DIOInputBit;
            const bool pins = request.operation >= Operation::DIOInit && request.operation <= Operation::DIOOutputBit;
            const ChangeCause cause = reads ? ChangeCause::Outside : ChangeCause::Call;
            SettleOwedLevels(cause, reads ? nullptr : &client.peer, pins);
            marlek_board::ErrorRecord failure;
            uint8_t value = 0;
            const LibStatus status = keeper_.SameDescription(client.board)
                                         ? keeper_.Call(client.run, request, value, failure)
                                         : keeper_.RefuseOtherDescription(client.board, failure);
            FollowEdges();
            static uint8_t answer[MAX_BODY];
            const Peer peer = client.peer;
            Send(client, static_cast<uint8_t>(MessageKind::Answer), answer, PutAnswer(status, value, failure, answer));
            TellCall(cause, reads ? nullptr : &peer, pins);
            return true;
        }
        case MessageKind::Watch:
            if (length != 0 || client.watching) break;
            StartWatching(client);
            return true;
        case MessageKind::Status: {
            if (length != 0) break;
            const std::string text = keeper_.StatusText() + "socket " + socketPath_ + "\nclients " +
                                     std::to_string(clients_.size()) + "\n";
            Send(client, static_cast<uint8_t>(MessageKind::StatusAnswer), text.data(),
                 text.size() < MAX_BODY ? text.size() : MAX_BODY);
            return true;
        }
        default: break;
    }
    Refuse(dup(client.fd), "the board service at %s refused %s from this program", "a message it cannot take");
    Drop(client.fd, "it sent a message the service cannot take");
    return false;
}

void Server::Send(Client& client, uint8_t kind, const void* body, size_t length) {
    const size_t start = client.out.size();
    client.out.resize(start + HEADER_SIZE + length);
    PutMessage(static_cast<MessageKind>(kind), body, length, client.out.data() + start);
    Flush(client);
}

// The changes queued for the watchers go out together, a few times a second
// at most while the board changes fast, so that a watch wakes for a batch of
// changes, not for each.
void Server::FlushWatchers() {
    PayOwedLevels();
    watchFlushAt_ = -1;
    std::vector<int> watching;
    for (const auto& [fd, client] : clients_) {
        if (client.watching && !client.out.empty() && !client.waitsToSend) watching.push_back(fd);
    }
    for (const int fd : watching) {
        if (clients_.count(fd) != 0) Flush(clients_.at(fd));
    }
}

void Server::Flush(Client& client) {
    while (!client.out.empty()) {
        const ssize_t sent = send(client.fd, client.out.data(), client.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (sent <= 0) {
            Drop(client.fd, "");  // it has gone; the client is no more
            return;
        }
        client.out.erase(client.out.begin(), client.out.begin() + sent);
        // A watcher that has taken all it was sent learns what it missed.
        if (client.out.empty() && client.missed > 0) {
            const uint32_t missed = client.missed;
            client.missed = 0;
            SendChange(client, missed);
            return;
        }
    }
    Watch(client);
}

void Server::Writable(Client& client) {
    const int fd = client.fd;
    Flush(client);
    // What it sent while its answer waited is taken now.
    if (clients_.count(fd) != 0 && client.out.empty() && !client.in.empty()) TakeMessages(client);
}

void Server::StartWatching(Client& client) {
    client.watching = true;
    if (watchers_++ == 0) {
        FollowEdges();
        told_ = keeper_.Snapshot();
        levelsReadAt_ = NowMs();
        levelsOwed_ = false;
    }
    SendChange(client, 0);
}

bool Server::OwedBy(ChangeCause cause, const Peer* peer) const {
    return cause == owedCause_ && (cause != ChangeCause::Call || (peer != nullptr && SamePeer(owedPeer_, *peer)));
}

void Server::SettleOwedLevels(ChangeCause cause, const Peer* peer, bool pins) {
    if (levelsOwed_ && (!pins || !OwedBy(cause, peer))) PayOwedLevels();
}

void Server::TellCall(ChangeCause cause, const Peer* peer, bool pins) {
    if (watchers_ == 0) return;
    if (!pins) {
        Tell(cause, peer, Levels::Kept);  // the LED and the modes: the pins are as they were
        return;
    }
    const int64_t now = NowMs();
    if (levelsReadAt_ < 0 || now - levelsReadAt_ >= WATCH_FLUSH_MS) {
        Tell(cause, peer, Levels::Read);
        return;
    }
    Tell(cause, peer, Levels::Kept);
    levelsOwed_ = true;
    owedCause_ = cause;
    if (peer != nullptr && !SamePeer(owedPeer_, *peer)) owedPeer_ = *peer;
    if (watchFlushAt_ < 0) watchFlushAt_ = now + WATCH_FLUSH_MS;
}

void Server::PayOwedLevels() {
    if (levelsOwed_) Tell(owedCause_, &owedPeer_, Levels::Owed);  // a peer for Call's alone
}

// Tells every watcher of the board as it is now, if it has changed.
void Server::Tell(ChangeCause cause, const Peer* peer, Levels levels) {
    if (watchers_ == 0) return;
    BoardSnapshot now = keeper_.Snapshot(levels != Levels::Kept);
    if (levels == Levels::Kept) {
        if (now.pinsHeld != 0) {
            now.levels = told_.levels;
            now.levelsKnown = told_.levelsKnown;
        }
        Queue(now, cause, peer, false);
        return;
    }
    levelsReadAt_ = NowMs();
    if (levelsOwed_ && levels == Levels::Read && now.levelsKnown != 0 && told_.levelsKnown != 0) {
        // The outputs' levels are the owing calls' doing; what else has
        // changed (an input's level, from outside) is this change's.
        BoardSnapshot owed = told_;
        owed.levels = static_cast<uint8_t>((told_.levels & ~told_.outputMask) | (now.levels & told_.outputMask));
        Queue(owed, owedCause_, &owedPeer_, true);
    }
    levelsOwed_ = false;
    Queue(now, cause, peer, levels == Levels::Owed);
}

void Server::Queue(const BoardSnapshot& now, ChangeCause cause, const Peer* peer, bool levelsByCall) {
    if (now == told_) return;
    // Levels alone are an input's change, whoever's read found it, unless
    // calls' drives owed the read.
    BoardSnapshot levelsAside = now;
    levelsAside.levels = told_.levels;
    levelsAside.levelsKnown = told_.levelsKnown;
    if (levelsAside == told_ && cause == ChangeCause::Call && !levelsByCall) cause = ChangeCause::Outside;
    told_ = now;
    uint8_t message[HEADER_SIZE + CHANGE_BODY];
    ChangeMessage(cause, cause == ChangeCause::Call ? peer : nullptr, 0, now, message);
    const size_t size = sizeof message;
    // Queued, not sent: no watcher goes away meanwhile.
    for (auto& [fd, client] : clients_) {
        if (!client.watching) continue;
        if (client.missed > 0 || client.out.size() + size > WATCH_QUEUE_BYTES) {
            ++client.missed;  // told, with the board as it is then, once it has taken its queue
            continue;
        }
        client.out.insert(client.out.end(), message, message + size);
        if (watchFlushAt_ < 0) watchFlushAt_ = NowMs() + WATCH_FLUSH_MS;
    }
}

void Server::SendChange(Client& client, uint32_t missed) {
    uint8_t message[HEADER_SIZE + CHANGE_BODY];
    ChangeMessage(ChangeCause::Now, nullptr, missed, keeper_.Snapshot(), message);
    client.out.insert(client.out.end(), message, message + sizeof message);
    Flush(client);
}

// The input pins' edge events are followed while anyone watches, and only
// then: a board nobody watches wakes the service for nothing.
void Server::FollowEdges() {
    int fds[MAX_SET_LINES];
    const int count = watchers_ > 0 ? keeper_.PinRequests(fds) : 0;
    if (static_cast<size_t>(count) == edges_.size() && std::equal(edges_.begin(), edges_.end(), fds)) return;
    const std::vector<int> wanted(fds, fds + count);
    for (const int fd : edges_) {
        // One the engine has closed has left the set by itself.
        if (std::find(wanted.begin(), wanted.end(), fd) == wanted.end()) epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    }
    for (const int fd : wanted) {
        if (std::find(edges_.begin(), edges_.end(), fd) != edges_.end()) continue;
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
    }
    edges_ = wanted;
}

void Server::EdgesCame(int fd) {
    gpio_v2_line_event events[16];
    while (read(fd, events, sizeof events) > 0) {
    }
    // The level read after the edges, so a quiet line never shows a stale one.
    Tell(ChangeCause::Outside, nullptr, Levels::Read);
}

// Waits for input while the client's answers are sent, else for room to send
// them; the epoll set is changed only when that changes.
void Server::Watch(Client& client) {
    const bool sending = !client.out.empty();
    if (sending == client.waitsToSend) return;
    client.waitsToSend = sending;
    epoll_event event{};
    event.events = sending ? (client.watching ? EPOLLIN | EPOLLOUT : EPOLLOUT) : EPOLLIN;
    event.data.fd = client.fd;
    epoll_ctl(epoll_, EPOLL_CTL_MOD, client.fd, &event);
}

}  // namespace marlek_linux::service
