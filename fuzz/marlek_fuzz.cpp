// The fuzzing board library: the board library interface with every answer
// scripted by the fuzz input, and every call checked against what a program may
// ask of the library.
//
// The input is laid out as
//   byte 0        N, the length of the control block (0 to 255)
//   bytes 1..N    the control block: the library's answers, taken in call order
//   the rest      what the operator types, the program's standard input
// The library reads byte 0 and the control block from file descriptor 0 with
// read() before the program's stdio has touched it, so the program reads
// exactly the rest.
//
// Each call takes the bytes it needs from the control block; past its end
// every byte reads as 0.
//   board operation    a status byte: 0 succeeds; Marlek_DIOInputByte and
//                      Marlek_DIOInputBit then take the byte or level they
//                      return (any value 0-255). A nonzero status is returned
//                      as it is and takes two more bytes: the error code and a
//                      text choice for the error record.
//   KVTGetLastError    0: fills in the record; odd: fills in nothing and
//                      returns the byte; even: fills it in and returns the byte.
//   kvtGetErrorString  a text choice.
// A text choice picks one of TEXT_CHOICES (modulo their count): a plain text,
// no text (NULL), an empty text, printf directives, a long text, control
// characters, bytes above 127.
//
// With MARLEK_FUZZ_TRACE set, each call and its answer is written to standard
// error, to replay a finding.
//
// A call that breaks the library's contract (a null pointer, a pin outside
// 0-7, an unknown device or mode code, digital I/O used while not open) is a
// fault in the program: the library names it on standard error and aborts.
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "marlek_lib.h"

namespace {

constexpr size_t LONG_TEXT_LENGTH = 4096;
constexpr int AFL_FORK_SERVER_FD = 198;
constexpr uint8_t USER_LED_DEVICE = 7;
constexpr std::array<uint8_t, 6> SERIAL_MODE_CODES{0x01, 0x00, 0x0C, 0x03, 0x02, 0x22};

std::array<char, LONG_TEXT_LENGTH + 1> longText{};

const std::array<const char*, 7> TEXT_CHOICES{
    "board reports a failure",
    nullptr,
    "",
    "%s%s%n%p%x%%",
    longText.data(),
    "line\nbreak\r\ttab\b\a\x1b[2J\x7f",
    "\xff\xfe\x80\xc3\x28 high bytes",
};

struct Script {
    std::array<uint8_t, 255> bytes{};
    size_t length = 0;
    size_t next = 0;
};

struct State {
    Script script;
    bool trace = false;
    bool dioOpen = false;
    uint8_t errorCode = 0;
    const char* errorText = nullptr;
};

State state;

// Reads up to count bytes; fewer at end of input or on an error.
size_t ReadInput(uint8_t* target, size_t count) {
    size_t got = 0;
    while (got < count) {
        const ssize_t n = read(STDIN_FILENO, target + got, count - got);
        if (n > 0) {
            got += static_cast<size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    return got;
}

void ReadScript() {
    state = State{};
    state.trace = std::getenv("MARLEK_FUZZ_TRACE") != nullptr;
    uint8_t length = 0;
    if (ReadInput(&length, 1) != 1) return;
    state.script.length = ReadInput(state.script.bytes.data(), length);
}

// AFL++ starts its fork server in the program's own start-up, after this
// library's constructor has run: under it each forked child reads its input,
// and the server reads nothing.
bool UnderForkServer() {
    return std::getenv("__AFL_SHM_ID") != nullptr && fcntl(AFL_FORK_SERVER_FD, F_GETFD) != -1;
}

__attribute__((constructor)) void StartUp() {
    longText.fill('x');
    longText.back() = '\0';
    if (UnderForkServer()) {
        pthread_atfork(nullptr, nullptr, ReadScript);
    } else {
        ReadScript();
    }
}

uint8_t Take() {
    Script& script = state.script;
    return script.next < script.length ? script.bytes[script.next++] : 0;
}

const char* TakeText() { return TEXT_CHOICES[Take() % TEXT_CHOICES.size()]; }

void Trace(const char* operation, unsigned status) {
    if (state.trace) std::fprintf(stderr, "%s = %u\n", operation, status);
}

[[noreturn]] void Fault(const char* what) {
    std::fprintf(stderr, "marlek fuzz library: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

void Require(bool holds, const char* what) {
    if (!holds) Fault(what);
}

// The status of the call; a failure also sets the error record.
LibStatus Answer(const char* operation) {
    const uint8_t status = Take();
    if (status != 0) {
        state.errorCode = Take();
        state.errorText = TakeText();
    }
    Trace(operation, status);
    return status;
}

LibStatus DioAnswer(const char* operation) {
    Require(state.dioOpen, "digital I/O used while not open");
    return Answer(operation);
}

}  // namespace

extern "C" {

MARLEK_API LibStatus Marlek_DIOInit(void) {
    Require(!state.dioOpen, "Marlek_DIOInit while the digital I/O is open");
    const LibStatus status = Answer("Marlek_DIOInit");
    state.dioOpen = status == 0;
    return status;
}

MARLEK_API LibStatus Marlek_DIOFree(void) {
    // Also called after a failed Marlek_DIOInit, to release what it left.
    const LibStatus status = Answer("Marlek_DIOFree");
    if (status == 0) state.dioOpen = false;
    return status;
}

MARLEK_API LibStatus Marlek_DIOSetConfig(uint8_t, uint8_t) {
    return DioAnswer("Marlek_DIOSetConfig");
}

MARLEK_API LibStatus Marlek_DIOInputByte(uint8_t* data) {
    Require(data != nullptr, "Marlek_DIOInputByte with a null pointer");
    const LibStatus status = DioAnswer("Marlek_DIOInputByte");
    if (status == 0) {
        *data = Take();
        Trace("  read", *data);
    }
    return status;
}

MARLEK_API LibStatus Marlek_DIOInputBit(int32_t pin, uint8_t* level) {
    Require(level != nullptr, "Marlek_DIOInputBit with a null pointer");
    Require(pin >= 0 && pin <= 7, "Marlek_DIOInputBit with a pin outside 0-7");
    const LibStatus status = DioAnswer("Marlek_DIOInputBit");
    if (status == 0) {
        *level = Take();
        Trace("  level", *level);
    }
    return status;
}

MARLEK_API LibStatus Marlek_DIOOutputByte(uint8_t, uint8_t) {
    return DioAnswer("Marlek_DIOOutputByte");
}

MARLEK_API LibStatus Marlek_DIOOutputBit(uint8_t, uint8_t) {
    return DioAnswer("Marlek_DIOOutputBit");
}

MARLEK_API LibStatus MarlekLedConfig(uint8_t device, uint8_t* setting, int32_t) {
    Require(setting != nullptr, "MarlekLedConfig with a null pointer");
    Require(device == USER_LED_DEVICE, "MarlekLedConfig with a device other than the user LED");
    const uint8_t given = *setting;
    const LibStatus status = Answer("MarlekLedConfig");
    *setting = given;  // the library may write the setting back
    return status;
}

MARLEK_API LibStatus MarlekSerialConfig(uint8_t modeCode, PortPair* ports) {
    Require(ports != nullptr, "MarlekSerialConfig with a null pointer");
    bool known = false;
    for (const uint8_t code : SERIAL_MODE_CODES) known = known || code == modeCode;
    Require(known, "MarlekSerialConfig with an unknown mode code");
    const PortPair given = *ports;
    const LibStatus status = Answer("MarlekSerialConfig");
    *ports = given;
    return status;
}

MARLEK_API LibStatus KVTGetLastError(LastErrorInfo* info) {
    Require(info != nullptr, "KVTGetLastError with a null pointer");
    const uint8_t mode = Take();
    Trace(mode % 2 == 1 ? "KVTGetLastError, nothing filled in" : "KVTGetLastError", mode);
    if (mode % 2 == 1) return mode;
    info->code = state.errorCode;
    info->text = state.errorText;
    return mode;
}

MARLEK_API const char* kvtGetErrorString(uint8_t) {
    const uint8_t choice = Take();
    Trace("kvtGetErrorString, text choice", choice);
    return TEXT_CHOICES[choice % TEXT_CHOICES.size()];
}

}  // extern "C"
