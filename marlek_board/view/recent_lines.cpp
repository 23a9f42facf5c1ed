#include "recent_lines.h"

#include <cstring>

#include "terminal_text.h"

namespace marlek_board::view {

void RecentLines::Add(const char* line) {
    size_t slot = 0;
    if (count_ < CAPACITY) {
        slot = (first_ + count_++) % CAPACITY;
    } else {
        slot = first_;
        first_ = (first_ + 1) % CAPACITY;
    }
    EscapeForTerminal(line, std::strlen(line), lines_[slot], LINE_SIZE);
}

}  // namespace marlek_board::view
