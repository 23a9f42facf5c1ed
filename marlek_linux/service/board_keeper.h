// The board as the service keeps it for every program: one engine that holds
// the described lines from their first use until the service stops, the
// description in force and a newer one that does not check, and the state
// file that gives the board back after a restart within the same boot.
#ifndef MARLEK_LINUX_SERVICE_BOARD_KEEPER_H
#define MARLEK_LINUX_SERVICE_BOARD_KEEPER_H

#include <ctime>
#include <memory>
#include <string>

#include <sys/stat.h>

#include "board_engine.h"
#include "error_record.h"
#include "service_protocol.h"
#include "state_file.h"

namespace marlek_linux::service {

inline constexpr int SAVE_DELAY_MS = 50;

// Where a message of the service goes (standard error, which the journal takes).
using Log = void (*)(const std::string& text);

class BoardKeeper {
public:
    BoardKeeper(std::string descriptionPath, PathOrigin origin, int stateFolder, Log log);
    ~BoardKeeper();
    BoardKeeper(const BoardKeeper&) = delete;
    BoardKeeper& operator=(const BoardKeeper&) = delete;

    // Reads the description; within the boot of the state file, gives the
    // board back as the file holds it, for the parts the description still
    // names alike. At a new boot the board is taken as it is.
    void Start();

    // Takes the description again when its file has changed since it was
    // read (or always, when forced: a reload): the parts of the board it
    // names as before keep their lines and state, the others are given back.
    // A description that does not check leaves the one in force, and every
    // call fails with what is wrong until it is mended.
    void Refresh(bool forced);

    // A call of a run. A change to what the board holds is saved within
    // SAVE_DELAY_MS (SaveDueMs, SaveNow), so that a run of calls costs one
    // write of the state file, not one each.
    LibStatus Call(RunState& run, const BoardRequest& request, uint8_t& value, marlek_board::ErrorRecord& failure);

    // A client's MARLEK_BOARD, from its hello: a run that names another
    // description than the service's is refused with a text that says so.
    bool SameDescription(const std::string& named) const;
    LibStatus RefuseOtherDescription(const std::string& named, marlek_board::ErrorRecord& failure) const;

    // The board as a watch shows it; the pins' levels are read now, unless
    // readLevels is false: then levels and levelsKnown are left 0.
    BoardSnapshot Snapshot(bool readLevels = true);

    // The requests whose edge events tell an input's change.
    int PinRequests(int (&fds)[MAX_SET_LINES]) const;

    // "name value" lines for marlek-board: the description in force, when it
    // was read, and what is wrong with the file now, if anything.
    std::string StatusText() const;

    // How long until a change must be saved: -1 when none waits.
    int SaveDueMs() const;
    void SaveNow();

    // Gives every line back (the service stops), its state saved first.
    void Stop();

private:
    bool ReadDescription(Description& description, struct stat& identity, std::string& text, std::string& problem);
    void TakeNew(const Description& next, const std::string& text, const struct stat& identity, bool restoring,
                 const HeldBoard& wanted, const Description* heldUnder);
    void NoteChange();

    std::string path_;
    PathOrigin origin_;
    int stateFolder_;
    Log log_;
    std::unique_ptr<BoardEngine> engine_;
    std::string boot_;
    std::string text_;          // the description in force, as read
    struct stat identity_ {};   // its file when read
    bool inForce_ = false;      // a description is in force
    time_t readAt_ = 0;
    std::string problem_;       // what is wrong with the file now; empty: nothing
    struct stat problemIdentity_ {};
    HeldBoard saved_;
    bool savedOnce_ = false;
    int64_t changedAt_ = -1;   // the first change not saved yet; -1: none
    std::string saveProblem_;  // why the last save failed, said once
};

}  // namespace marlek_linux::service

#endif  // MARLEK_LINUX_SERVICE_BOARD_KEEPER_H
