#include "board_picture.h"

#include <cstring>

#include "terminal_text.h"

namespace marlek_board::view {

namespace {

constexpr const char* HYPHEN_RULE = "--------------------------------------------------------------------\n";
constexpr size_t LEGEND_WIDTH = 78;  // a legend line's columns at most, so that an 80-column window shows it whole
constexpr size_t LEGEND_SIZE = 512;

template <size_t N>
void SetText(char (&field)[N], const char* text) {
    EscapeForTerminal(text, std::strlen(text), field, N);
}

const char* LevelCell(Level level) {
    switch (level) {
        case Level::Low: return "0";
        case Level::High: return "1";
        case Level::Unknown: break;
    }
    return "?";
}

const char* DirectionCell(const PinPicture& pin) { return !pin.held ? "-" : pin.output ? "out" : "in"; }
const char* DriveCell(const PinPicture& pin) { return !pin.held ? "-" : pin.pushPull ? "pp" : "od"; }
const char* OutCell(const PinPicture& pin) { return pin.held && pin.output ? LevelCell(pin.driven) : "-"; }
const char* ExternalCell(const PinPicture& pin) { return LevelCell(pin.external); }
const char* DataCell(const PinPicture& pin) { return pin.held ? LevelCell(pin.read) : "-"; }

struct Row {
    const char* label;
    const char* (*cell)(const PinPicture&);
};
constexpr Row ROWS[] = {{"DIR:", DirectionCell},
                        {"DRIVE:", DriveCell},
                        {"OUT:", OutCell},
                        {"EXT:", ExternalCell},
                        {"DATA:", DataCell}};
constexpr size_t EXTERNAL_ROW = 3;

bool HasExternal(const BoardPicture& picture) {
    for (const PinPicture& pin : picture.pins) {
        if (pin.external != Level::Unknown) return true;
    }
    return false;
}

bool RowShown(const BoardPicture& picture, size_t row) { return row != EXTERNAL_ROW || HasExternal(picture); }

// Whether any cell of a shown row is cell.
bool Shows(const BoardPicture& picture, const char* cell) {
    for (size_t row = 0; row < sizeof ROWS / sizeof ROWS[0]; ++row) {
        if (!RowShown(picture, row)) continue;
        for (const PinPicture& pin : picture.pins) {
            if (std::strcmp(ROWS[row].cell(pin), cell) == 0) return true;
        }
    }
    return false;
}

// The legend of the rows and marks the table shows, its entries separated by
// "; " and ended by ".", wrapped at LEGEND_WIDTH; the number of lines.
int Legend(const BoardPicture& picture, char (&out)[LEGEND_SIZE]) {
    bool unheld = false;
    for (const PinPicture& pin : picture.pins) unheld = unheld || !pin.held;
    const char* entries[8];
    size_t count = 0;
    entries[count++] = unheld ? "DIR in or out, - held by no program" : "DIR in or out";
    entries[count++] = "DRIVE pp push-pull, od open-drain";
    entries[count++] = "OUT what an output drives";
    if (HasExternal(picture)) entries[count++] = "EXT the level from outside";
    entries[count++] = "DATA the level a read gives";
    if (Shows(picture, "?")) entries[count++] = "? not known";
    size_t used = 0;
    size_t column = 0;
    int lines = 1;
    for (size_t i = 0; i < count; ++i) {
        const size_t length = std::strlen(entries[i]);
        if (column > 0 && column + 1 + length + 1 > LEGEND_WIDTH) {
            out[used++] = '\n';
            column = 0;
            ++lines;
        } else if (column > 0) {
            out[used++] = ' ';
            ++column;
        }
        std::memcpy(out + used, entries[i], length);
        used += length;
        out[used++] = i + 1 == count ? '.' : ';';
        column += length + 1;
    }
    out[used++] = '\n';
    out[used] = '\0';
    return lines;
}

}  // namespace

void BoardPicture::SetLed(bool lit, const char* text) {
    ledLit = lit;
    SetText(led, text);
}

void BoardPicture::SetPair(size_t pair, const char* text) {
    if (pair < PICTURE_PAIRS) SetText(pairs[pair], text);
}

bool BoardPicture::AddRow(const char* label, const char* text) {
    if (extraCount == MAX_EXTRA_ROWS) return false;
    SetText(extra[extraCount].label, label);
    SetText(extra[extraCount].text, text);
    ++extraCount;
    return true;
}

bool SamePicture(const BoardPicture& a, const BoardPicture& b) {
    for (size_t i = 0; i < PICTURE_PINS; ++i) {
        const PinPicture& p = a.pins[i];
        const PinPicture& q = b.pins[i];
        if (p.held != q.held || p.output != q.output || p.pushPull != q.pushPull || p.driven != q.driven ||
            p.external != q.external || p.read != q.read)
            return false;
    }
    if (a.ledLit != b.ledLit || std::strcmp(a.led, b.led) != 0 || a.extraCount != b.extraCount) return false;
    for (size_t i = 0; i < PICTURE_PAIRS; ++i) {
        if (std::strcmp(a.pairs[i], b.pairs[i]) != 0) return false;
    }
    for (size_t i = 0; i < a.extraCount; ++i) {
        if (std::strcmp(a.extra[i].label, b.extra[i].label) != 0 || std::strcmp(a.extra[i].text, b.extra[i].text) != 0)
            return false;
    }
    return true;
}

void PrintPinTable(std::FILE* out, const BoardPicture& picture) {
    std::fputs(HYPHEN_RULE, out);
    std::fprintf(out, "GPIO:\t7\t6\t5\t4\t3\t2\t1\t0\n%s", HYPHEN_RULE);
    for (size_t row = 0; row < sizeof ROWS / sizeof ROWS[0]; ++row) {
        if (!RowShown(picture, row)) continue;
        std::fputs(ROWS[row].label, out);
        for (size_t pin = PICTURE_PINS; pin-- > 0;) std::fprintf(out, "\t%s", ROWS[row].cell(picture.pins[pin]));
        std::fputc('\n', out);
    }
    std::fputs(HYPHEN_RULE, out);
    char legend[LEGEND_SIZE];
    Legend(picture, legend);
    std::fputs(legend, out);
}

int PinTableRows(const BoardPicture& picture) {
    char legend[LEGEND_SIZE];
    return 3 + (HasExternal(picture) ? 5 : 4) + 1 + Legend(picture, legend);
}

void PrintBoard(std::FILE* out, const BoardPicture& picture) {
    PrintPinTable(out, picture);
    std::fprintf(out, "LED:\t%s\n", picture.led);
    std::fprintf(out, "UART 1 and 2:\t%s\n", picture.pairs[0]);
    std::fprintf(out, "UART 3 and 4:\t%s\n", picture.pairs[1]);
    for (size_t i = 0; i < picture.extraCount; ++i) {
        std::fprintf(out, "%s\t%s\n", picture.extra[i].label, picture.extra[i].text);
    }
}

}  // namespace marlek_board::view
