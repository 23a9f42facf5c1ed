// The live view of a watch on a terminal: the board redrawn in place with the
// recent changes under it, the newest marked, on the terminal's own screen,
// which the view gives back as it was when the watch ends, by q, a signal or
// an error. Shared by marlek-sim watch and marlek-board watch; built as
// program code (no heap, no exceptions), so that a tool that needs the C
// library alone can have it.
//
// The wait is event-driven: it wakes for a key, a signal the view handles
// (the end signals, Ctrl-Z, a new window size), a descriptor given (a board
// service's socket) becoming readable, or its timeout, and may have none, so
// that a watch of a quiet board that is told of its changes takes no
// wake-ups at all. A board that must be looked at (the simulated board's
// file) is looked at between waits with a timeout.
#ifndef MARLEK_BOARD_VIEW_LIVE_VIEW_H
#define MARLEK_BOARD_VIEW_LIVE_VIEW_H

#include <cstddef>

#include "board_picture.h"
#include "recent_lines.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <termios.h>
#endif

namespace marlek_board::view {

inline constexpr int NO_TIMEOUT = -1;
inline constexpr int NO_DESCRIPTOR = -1;

// Why a wait ended. Quit: q was typed, or an end signal came (Ctrl-C,
// SIGTERM, SIGHUP; on Windows Ctrl-C or Ctrl-Break). Descriptor: the
// descriptor given is readable, or closed at its far end, or in error.
// Other: the timeout, another key, a new window size, the watch continued
// after Ctrl-Z, another signal: a time to look and draw.
enum class Woken { Quit, Descriptor, Other };

class LiveView {
public:
    LiveView() = default;
    LiveView(const LiveView&) = delete;
    LiveView& operator=(const LiveView&) = delete;
    ~LiveView() { Stop(); }

    // Takes the terminal over when standard output is a terminal that can
    // show the view, and handles the end signals, Ctrl-Z and (POSIX) window
    // size changes; false, and nothing changed, otherwise. name is what the
    // title begins with ("marlek-sim watch"), where what it watches (the
    // board file's path, the service's socket), shown escaped. Called before
    // anything is written to standard output, whose buffer it makes whole
    // frames; one view at a time in a process.
    bool Start(const char* name, const char* where);

    // Gives the terminal back as it was. A watch ended by SIGTERM or SIGHUP
    // then ends as that signal would have ended it.
    void Stop();

    bool Active() const { return active_; }

    // Waits up to timeoutMillis (NO_TIMEOUT: as long as it takes) for q, an
    // end signal or descriptor (NO_DESCRIPTOR: none). Ctrl-Z stops the watch
    // here, the terminal given back while it is stopped. A view that is not
    // active waits for descriptor or the time alone. On Windows no
    // descriptor is watched.
    Woken Wait(int timeoutMillis, int descriptor = NO_DESCRIPTOR);

    // A change line for the list under the board.
    void Add(const char* line);

    // What the watch waits for, shown under the title; empty when it waits
    // for nothing.
    void Note(const char* note);

    // Redraws when the picture, the changes or the note changed, or the
    // window has another size; nothing when the view is not active. seen false: no board has been seen yet; the
    // title and the note alone, the window asked to hold a board the shape
    // of picture.
    void Draw(const BoardPicture& picture, bool seen);

    // The signals that end the watch, SIGTSTP and SIGWINCH.
    static constexpr size_t HANDLED_SIGNALS = 5;

private:
    bool TakeTerminal(bool first);
    void GiveTerminalBack();
    void HandleSignals(bool on);
    void WindowSize(int& rows, int& columns);
    Woken WaitInactive(int timeoutMillis, int descriptor);

    bool active_ = false;
    bool keys_ = false;  // the keyboard is read: standard input is the terminal
    bool stale_ = true;
    bool drawnSeen_ = false;
    int rows_ = 0;
    int columns_ = 0;
    char name_[64] = {};
    char where_[1024] = {};
    char note_[256] = {};
    BoardPicture drawn_;
    RecentLines recent_;
#ifdef _WIN32
    DWORD outputMode_ = 0;
    DWORD inputMode_ = 0;
    HANDLE woken_ = nullptr;  // set by the console's control handler
#else
    void Suspend();
    termios saved_{};
    struct sigaction before_[HANDLED_SIGNALS] {};
    bool handled_[HANDLED_SIGNALS] {};
    int wakeRead_ = -1;  // the end the handlers write to, so that no signal is missed by a wait
    int wakeWrite_ = -1;
#endif
};

}  // namespace marlek_board::view

#endif  // MARLEK_BOARD_VIEW_LIVE_VIEW_H
