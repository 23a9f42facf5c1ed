// The live view of marlek-sim watch on a terminal: the board redrawn in place
// with the last changes under it, on the terminal's own screen, which the
// watch gives back as it was when it ends, by q, a signal or an error.
#ifndef MARLEK_SIM_WATCH_VIEW_H
#define MARLEK_SIM_WATCH_VIEW_H

#include <chrono>
#include <cstddef>
#include <deque>
#include <iterator>
#include <string>

#include "state_format.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <termios.h>
#endif

namespace marlek_sim::tool {

class LiveView {
public:
    LiveView() = default;
    LiveView(const LiveView&) = delete;
    LiveView& operator=(const LiveView&) = delete;
    ~LiveView() { Stop(); }

    // Takes the terminal over when standard output is a terminal that can
    // show the view; false (and nothing changed) otherwise.
    bool Start(const std::string& path);

    // Gives the terminal back as it was. A watch ended by SIGTERM or SIGHUP
    // then ends as that signal would have ended it.
    void Stop();

    // Waits up to wait for q (true) or the end signal; comes back sooner when
    // a key was typed.
    bool WaitForQuit(std::chrono::milliseconds wait);

    // A change line for the list under the board.
    void Add(std::string line);

    // What the watch waits for, shown under the title; empty when it waits
    // for nothing.
    void Note(const std::string& note);

    // Redraws when something changed or the window has another size; record
    // null: no board has been seen yet.
    void Draw(const BoardRecord* record);

    // The signals that end the watch, and SIGTSTP.
    static constexpr size_t HANDLED_SIGNALS = 4;

private:
    bool TakeTerminal();
    void GiveTerminalBack();
    void HandleSignals(bool on);
    void WindowSize(int& rows, int& columns);

    bool active_ = false;
    bool keys_ = false;  // the keyboard is read: standard input is the terminal
    bool stale_ = true;
    int rows_ = 0;
    int columns_ = 0;
    std::string path_;
    std::string note_;
    std::deque<std::string> recent_;
#ifdef _WIN32
    DWORD outputMode_ = 0;
    DWORD inputMode_ = 0;
#else
    termios saved_{};
    struct sigaction before_[HANDLED_SIGNALS] {};
    bool handled_[HANDLED_SIGNALS] {};
#endif
};

}  // namespace marlek_sim::tool

#endif  // MARLEK_SIM_WATCH_VIEW_H
