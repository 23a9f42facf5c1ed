// The recent changes a live view lists under the board: the last CAPACITY
// lines, each escaped for the terminal and cut to LINE_SIZE - 1 bytes before
// a whole character or escape. A view never wraps a line, so a line cut here
// is one no window is wide enough to show whole.
#ifndef MARLEK_BOARD_VIEW_RECENT_LINES_H
#define MARLEK_BOARD_VIEW_RECENT_LINES_H

#include <cstddef>

namespace marlek_board::view {

class RecentLines {
public:
    static constexpr size_t CAPACITY = 64;
    static constexpr size_t LINE_SIZE = 512;  // NUL included

    // Keeps line as the newest; the oldest goes once CAPACITY are kept.
    void Add(const char* line);

    size_t Count() const { return count_; }
    // The line at index, 0 the oldest kept; Count() - 1 the newest.
    const char* Line(size_t index) const { return lines_[(first_ + index) % CAPACITY]; }

private:
    char lines_[CAPACITY][LINE_SIZE] = {};
    size_t first_ = 0;
    size_t count_ = 0;
};

}  // namespace marlek_board::view

#endif  // MARLEK_BOARD_VIEW_RECENT_LINES_H
