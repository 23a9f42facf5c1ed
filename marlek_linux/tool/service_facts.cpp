#include "service_facts.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "descriptors.h"
#include "service_client.h"
#include "service_protocol.h"

namespace marlek_linux {

namespace {

// The value of a "name value" line of the status, copied into out.
void Value(const char* text, size_t length, const char* name, char* out, size_t size) {
    const size_t nameLength = std::strlen(name);
    for (size_t at = 0; at < length;) {
        const char* line = text + at;
        const char* end = static_cast<const char*>(std::memchr(line, '\n', length - at));
        const size_t lineLength = end != nullptr ? static_cast<size_t>(end - line) : length - at;
        if (lineLength > nameLength && std::strncmp(line, name, nameLength) == 0 && line[nameLength] == ' ') {
            const size_t valueLength = lineLength - nameLength - 1;
            std::snprintf(out, size, "%.*s", static_cast<int>(valueLength), line + nameLength + 1);
            return;
        }
        at += lineLength + 1;
    }
}

}  // namespace

void AskService(ServiceFacts& facts) {
    static uint8_t answer[MAX_MESSAGE];
    bool named = false;
    if (!ServicePath(facts.socket, named)) {
        facts.state = ServiceState::Absent;
        return;
    }
    facts.state = ServiceState::Unreachable;
    int fd = ConnectToService(facts.socket, named, facts.problem);
    if (fd < 0) return;
    uint8_t message[HEADER_SIZE];
    const size_t size = PutMessage(MessageKind::Status, nullptr, 0, message);
    uint8_t kind = 0;
    uint32_t length = 0;
    const char* protocolProblem = "";
    const bool answered = Exchange(fd, message, size, NowMs() + CALL_BOUND_MS, answer, kind, length, &protocolProblem);
    const int error = errno;
    marlek_board::CloseDescriptor(fd);
    if (!answered || static_cast<MessageKind>(kind) != MessageKind::StatusAnswer) {
        Fail(facts.problem, ERROR_SERVICE, "the board service at %s did not answer: %s", facts.socket,
             !answered && error != EPROTO ? std::strerror(error) : "it is of another version");
        return;
    }
    const char* text = reinterpret_cast<const char*>(answer + HEADER_SIZE);
    char number[32] = "";
    Value(text, length, "pid", number, sizeof number);
    facts.pid = std::strtol(number, nullptr, 10);
    number[0] = '\0';
    Value(text, length, "clients", number, sizeof number);
    facts.clients = std::strtol(number, nullptr, 10);
    Value(text, length, "description", facts.description, sizeof facts.description);
    Value(text, length, "read", facts.readAt, sizeof facts.readAt);
    Value(text, length, "problem", facts.descriptionProblem, sizeof facts.descriptionProblem);
    facts.state = ServiceState::Running;
}

}  // namespace marlek_linux
