#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>

#include "board_store.h"
#include "state_os.h"

namespace marlek_sim {
namespace {

namespace fs = std::filesystem;

class TemporaryFolder {
public:
    TemporaryFolder() {
        std::string name = (fs::temp_directory_path() / "board-store-test.XXXXXX").string();
        if (mkdtemp(name.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = name;
    }
    ~TemporaryFolder() { fs::remove_all(path_); }
    std::string File(const char* name) const { return (path_ / name).string(); }
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Sets an environment variable for the life of the object.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedVariable() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

auto Drive(uint8_t levels) {
    return [levels](BoardRecord& record) {
        record.board.outputMask = 0xFF;
        record.board.pushPullMask = 0xFF;
        record.board.drivenLevels = levels;
        return true;
    };
}

TEST(BoardStore, OneFileIsOneBoardForEveryStore) {
    TemporaryFolder folder;
    const std::string path = folder.File("board");
    BoardStore first = BoardStore::AtPath(path);
    BoardStore second = BoardStore::AtPath(path);
    BoardRecord record;
    ASSERT_TRUE(second.Read(record).Ok());  // a missing file is a fresh board
    EXPECT_EQ(record.board.externalLevels, 0xFF);
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);

    ASSERT_TRUE(first.Update(Drive(0x5A)).Ok());
    ASSERT_TRUE(second.Read(record).Ok());
    EXPECT_EQ(record.board.drivenLevels, 0x5A);
    ASSERT_TRUE(second.Update(Drive(0x3C)).Ok());
    ASSERT_TRUE(first.Read(record).Ok());
    EXPECT_EQ(record.board.drivenLevels, 0x3C);

    // A store that opens the file afresh, as the next run does.
    ASSERT_TRUE(BoardStore::AtPath(path).Read(record).Ok());
    EXPECT_EQ(record.board.drivenLevels, 0x3C);
}

struct RefusalCase {
    const char* what;
    std::function<void(const TemporaryFolder&, const std::string& path)> make;
    const char* detail;   // part of the detail text
    bool resettable;      // reset puts a fresh board in its place
    bool needsRoot = false;
};

TEST(BoardStore, UnfitFilesAreRefusedUntouchedAndSaySo) {
    const std::string fresh = [] {
        const std::vector<uint8_t> image = FreshStateImage(os::BoardLockKind());
        return std::string(image.begin(), image.end());
    }();
    const RefusalCase cases[] = {
        {"foreign", [](auto&, auto& path) { Write(path, "[board]\npins = 8\n"); }, "is not a board state file", false},
        {"empty", [](auto&, auto& path) { Write(path, ""); }, "is truncated (0 of 1152 bytes)", true},
        {"truncated", [&](auto&, auto& path) { Write(path, fresh.substr(0, 700)); }, "is truncated (700 of 1152 bytes)",
         true},
        {"too long", [&](auto&, auto& path) { Write(path, fresh + "more"); }, "is not a board state file of this simulator (1156 bytes, not 1152)", true},
        {"version 2",
         [&](auto&, auto& path) {
             std::string bytes = fresh;
             bytes[8] = 2;
             Write(path, bytes);
         },
         "holds board state of version 2, and this simulator reads version 1", true},
        {"both slots damaged",
         [&](auto&, auto& path) {
             std::string bytes = fresh;
             bytes[STATE_SLOT_OFFSETS[0] + SLOT_PAYLOAD_OFFSET + 2] ^= 1;
             Write(path, bytes);
         },
         "is corrupt: neither copy of the board in it passes its check", true},
        {"both slots damaged while in use",
         [&](auto&, auto& path) {
             ASSERT_TRUE(BoardStore::AtPath(path).Update(Drive(7)).Ok());  // both slots written, lock set up
             std::string bytes = Contents(path);
             bytes[STATE_SLOT_OFFSETS[0] + SLOT_PAYLOAD_OFFSET + 2] ^= 1;
             bytes[STATE_SLOT_OFFSETS[1] + SLOT_PAYLOAD_OFFSET + 2] ^= 1;
             std::fstream(path, std::ios::binary | std::ios::in | std::ios::out) << bytes;  // in place
         },
         "is corrupt: neither copy of the board in it passes its check", true},
        {"symbolic link",
         [&](auto& folder, auto& path) {
             Write(folder.File("elsewhere"), fresh);
             fs::create_symlink(folder.File("elsewhere"), path);
         },
         "is a symbolic link", false},
        {"folder", [](auto&, auto& path) { fs::create_directory(path); }, "is not a plain file", false},
        {"FIFO", [](auto&, auto& path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }, "is not a plain file", false},
        {"another user's",
         [&](auto&, auto& path) {
             Write(path, fresh);
             ASSERT_EQ(chown(path.c_str(), 4321, 4321), 0);
         },
         "belongs to user 4321, not to you", false, true},
    };
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsRoot && geteuid() != 0) continue;  // only root can give a file away
        TemporaryFolder folder;
        const std::string path = folder.File("board");
        c.make(folder, path);
        const std::string before = fs::is_regular_file(path) ? Contents(path) : "";
        BoardStore store = BoardStore::AtPath(path);
        BoardRecord record;
        std::string refusal;
        for (const StoreStatus& status : {store.Read(record), store.Update(Drive(1)), store.Read(record)}) {
            refusal = status.detail;
            EXPECT_EQ(status.code, ERROR_STATE_UNUSABLE);
            EXPECT_NE(status.detail.find(path + " " + c.detail), std::string::npos) << status.detail;
            // Nothing to remove by hand but a file.
            const bool plain = fs::is_regular_file(fs::symlink_status(path)) || fs::is_symlink(fs::symlink_status(path));
            const char* advice = c.resettable ? "'marlek-sim reset' (or removing the file) starts a fresh board"
                                 : plain      ? "remove it by hand if it may go, or set MARLEK_SIM_STATE"
                                              : "; set MARLEK_SIM_STATE to a file of your own";
            EXPECT_NE(status.detail.find(advice), std::string::npos) << status.detail;
        }
        if (fs::is_regular_file(path)) {
            EXPECT_EQ(Contents(path), before);  // nothing thrown away
        }

        const StoreStatus reset = store.Reset();
        EXPECT_EQ(reset.Ok(), c.resettable) << reset.detail;
        if (!c.resettable) {  // left as it was, with the same text
            EXPECT_EQ(reset.detail, refusal);
            if (fs::is_regular_file(path)) {
                EXPECT_EQ(Contents(path), before);
            }
            continue;
        }
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(path)));
        ASSERT_TRUE(store.Update(Drive(0x42)).Ok());
        ASSERT_TRUE(BoardStore::AtPath(path).Read(record).Ok());
        EXPECT_EQ(record.board.drivenLevels, 0x42);
        if (fs::exists(folder.File("elsewhere"))) {
            EXPECT_EQ(Contents(folder.File("elsewhere")), fresh);  // the link's target is left alone
        }
    }
}

TEST(BoardStore, ResetOfAUsableFileReachesStoresAlreadyOnIt) {
    TemporaryFolder folder;
    const std::string path = folder.File("board");
    BoardStore running = BoardStore::AtPath(path);
    ASSERT_TRUE(running.Update(Drive(0x99)).Ok());
    ASSERT_TRUE(BoardStore::AtPath(path).Reset().Ok());
    BoardRecord record;
    ASSERT_TRUE(running.Read(record).Ok());
    EXPECT_EQ(record.board.outputMask, 0x00);
    EXPECT_EQ(record.board.drivenLevels, 0x00);
}

std::string BootMarkIn(const std::string& path) { return Contents(path).substr(STATE_BOOT_MARK_OFFSET, 14); }

TEST(BoardStore, TheLockOfABoardInUseIsNeverSetUpAgain) {
    TemporaryFolder folder;
    const std::string path = folder.File("board");
    auto running = std::make_unique<BoardStore>(BoardStore::AtPath(path));
    ASSERT_TRUE(running->Update(Drive(1)).Ok());
    std::fstream(path, std::ios::binary | std::ios::in | std::ios::out).seekp(STATE_BOOT_MARK_OFFSET)
        << "an earlier one" << '\0';  // in place, as a file from another boot
    BoardRecord record;
    ASSERT_TRUE(BoardStore::AtPath(path).Read(record).Ok());
    EXPECT_EQ(BootMarkIn(path), "an earlier one");  // another process uses it: left as it is
    running.reset();
    ASSERT_TRUE(BoardStore::AtPath(path).Read(record).Ok());
    EXPECT_NE(BootMarkIn(path), "an earlier one");  // alone: set up for this boot
    EXPECT_EQ(record.board.drivenLevels, 1);
}

TEST(BoardStore, DefaultPlace) {
    TemporaryFolder folder;
    {
        ScopedVariable runtime("XDG_RUNTIME_DIR", folder.Path().c_str());
        const BoardStore store = BoardStore::FromSetting(nullptr);
        EXPECT_EQ(store.Path(), folder.File("marlek-sim.board"));
        EXPECT_EQ(BoardStore::FromSetting("").Path(), store.Path());
    }
    ScopedVariable noRuntime("XDG_RUNTIME_DIR", nullptr);
    ScopedVariable temporary("TMPDIR", folder.Path().c_str());
    const std::string own = folder.File(("marlek-sim-" + std::to_string(geteuid())).c_str());
    const BoardStore store = BoardStore::FromSetting(nullptr);
    EXPECT_EQ(store.Path(), own + "/marlek-sim.board");
    EXPECT_EQ(fs::status(own).permissions(), fs::perms::owner_all);

    // A folder that others can enter is not used: they could swap the file.
    fs::permissions(own, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    BoardStore open = BoardStore::FromSetting(nullptr);
    EXPECT_FALSE(open.Location().Ok());
    EXPECT_NE(open.Location().detail.find("is open to other users (mode 0750)"), std::string::npos);
    BoardRecord record;
    EXPECT_EQ(open.Read(record).code, ERROR_STATE_UNUSABLE);
    EXPECT_EQ(BoardStore::FromSetting("memory").Read(record).code, ERROR_NONE);
}

TEST(BoardStore, ATemporaryFolderThatCannotBeUsedIsBlamedByName) {
    TemporaryFolder folder;
    const std::string file = folder.File("plain");
    Write(file, "notes\n");
    const std::string readOnly = folder.File("read-only");
    fs::create_directory(readOnly);
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::owner_exec);
    const std::string own = "marlek-sim-" + std::to_string(geteuid());
    const struct {
        std::string value;
        std::string what;
        bool needsUser = false;  // root may write anywhere
    } cases[] = {
        {"/nonexistent/tmp", "there is no such folder"},
        {file, "it is not a folder"},
        {"tmp", "it is not an absolute path"},
        {readOnly, "cannot create the folder " + readOnly + "/" + own + " in it: Permission denied", true},
    };
    ScopedVariable noRuntime("XDG_RUNTIME_DIR", nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        if (c.needsUser && geteuid() == 0) continue;
        ScopedVariable temporary("TMPDIR", c.value.c_str());
        const BoardStore store = BoardStore::FromSetting(nullptr);
        EXPECT_EQ(store.Location().code, ERROR_BAD_SETTING);
        EXPECT_EQ(store.Location().detail.rfind("TMPDIR=" + c.value + ": " + c.what + " (", 0), 0u)
            << store.Location().detail;
    }
}

}  // namespace
}  // namespace marlek_sim
