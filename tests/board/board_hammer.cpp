// Drives the simulated board through the library's interface from a process
// of its own, for the tests of the shared board.
//
//   board_hammer toggle PIN COUNT   makes every pin a push-pull output (the
//                                   same for every helper), says "ready" and
//                                   waits for a line on standard input, then
//                                   COUNT times drives PIN to the other level
//                                   and reads it back; fails at the first read
//                                   that does not give what was driven
//   board_hammer write-forever      drives all pins with changing bytes
//                                   until it is killed (or a minute has
//                                   passed, should nobody kill it); says
//                                   "writing" on standard output after the
//                                   first write
//   board_hammer hold whole|board   takes the lock of the whole state file, or
//                                   the board's lock, says "holding" and keeps
//                                   it until a line (or the end) comes on
//                                   standard input, as a stopped program would
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "board_store.h"
#include "marlek_lib.h"

namespace {

int Failed(const char* call) {
    LastErrorInfo info{0, nullptr};
    KVTGetLastError(&info);
    std::fprintf(stderr, "%s failed: %u %s\n", call, info.code, info.text != nullptr ? info.text : "");
    return 1;
}

int Toggle(int pin, long count) {
    const auto mask = static_cast<uint8_t>(1u << pin);
    if (Marlek_DIOSetConfig(0xFF, 0xFF) != 0) return Failed("Marlek_DIOSetConfig");
    // Every helper starts at once, so that their writes really meet.
    std::puts("ready");
    std::fflush(stdout);
    (void)std::getchar();
    for (long i = 0; i < count; ++i) {
        const auto level = static_cast<uint8_t>((i + 1) & 1);
        if (Marlek_DIOOutputBit(level != 0 ? mask : 0, mask) != 0) return Failed("Marlek_DIOOutputBit");
        uint8_t read = 0;
        if (Marlek_DIOInputBit(pin, &read) != 0) return Failed("Marlek_DIOInputBit");
        if (read != level) {
            std::fprintf(stderr, "pin %d: drove %u on write %ld but read %u\n", pin, level, i + 1, read);
            return 1;
        }
    }
    return 0;
}

int WriteForever() {
    if (Marlek_DIOSetConfig(0xFF, 0xFF) != 0) return Failed("Marlek_DIOSetConfig");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    for (unsigned i = 0;; ++i) {
        if (i % 4096 == 0 && std::chrono::steady_clock::now() > deadline) return 0;
        if (Marlek_DIOOutputByte(static_cast<uint8_t>(i), 0xFF) != 0) return Failed("Marlek_DIOOutputByte");
        if (i == 0) {
            std::puts("writing");
            std::fflush(stdout);
        }
    }
}

void SayHoldingAndWait() {
    std::puts("holding");
    std::fflush(stdout);
    (void)std::getchar();
}

int Hold(std::string_view lock) {
    using namespace marlek_sim;
    const char* path = std::getenv("MARLEK_SIM_STATE");
    BoardStore store = BoardStore::FromSetting(path);
    if (lock == "board") {
        const StoreStatus status = store.Update([](BoardRecord&) {
            SayHoldingAndWait();
            return false;
        });
        if (!status.Ok()) std::fprintf(stderr, "cannot hold the board: %s\n", status.detail.c_str());
        return status.Ok() ? 0 : 1;
    }
    const std::string place = store.Path();
    {
        BoardRecord record;
        BoardStore maker = BoardStore::FromSetting(path);
        (void)maker.Read(record);  // makes the file when there is none
    }
    std::unique_ptr<os::StateFile> file;
    std::string owner;
    std::string error;
    if (os::StateFile::Open(place, file, owner, error) != os::OpenOutcome::Opened ||
        file->LockWhole(os::DeadlineAfter(1000), error) != os::LockOutcome::Taken) {
        std::fprintf(stderr, "cannot hold the whole file %s: %s\n", place.c_str(), error.c_str());
        return 1;
    }
    SayHoldingAndWait();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view mode = argc > 1 ? argv[1] : "";
    if (mode == "hold" && argc == 3) return Hold(argv[2]);
    if (Marlek_DIOInit() != 0) return Failed("Marlek_DIOInit");
    int status = 2;
    if (mode == "toggle" && argc == 4) {
        status = Toggle(std::atoi(argv[2]), std::atol(argv[3]));
    } else if (mode == "write-forever" && argc == 2) {
        status = WriteForever();
    } else {
        std::fprintf(stderr, "usage: board_hammer toggle PIN COUNT | write-forever | hold whole|board\n");
    }
    if (Marlek_DIOFree() != 0 && status == 0) return Failed("Marlek_DIOFree");
    return status;
}
