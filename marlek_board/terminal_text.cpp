#include "terminal_text.h"

#include <cstdint>

namespace marlek_board {

namespace {

// A bidirectional formatting character or a line or paragraph separator:
// U+200E, U+200F, U+2028 to U+202E (the separators and the embeddings and
// overrides), U+2066 to U+2069 (the isolates).
bool IsLayoutControl(uint32_t code) {
    return code == 0x200E || code == 0x200F || (code >= 0x2028 && code <= 0x202E) ||
           (code >= 0x2066 && code <= 0x2069);
}

// The length of the well-formed, printable UTF-8 character at text, or 0.
size_t PrintableCharacter(const unsigned char* text, size_t length) {
    const unsigned lead = text[0];
    if (lead >= 0x20 && lead < 0x7F) return 1;
    size_t size = 0;
    uint32_t code = 0;
    uint32_t least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        size = 2;
        code = lead & 0x1Fu;
        least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        size = 3;
        code = lead & 0x0Fu;
        least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        size = 4;
        code = lead & 0x07u;
        least = 0x10000;
    } else {
        return 0;  // ASCII controls, DEL, lone continuation bytes and C1, 0xC0, 0xC1, 0xF5 and above
    }
    if (length < size) return 0;
    for (size_t i = 1; i < size; ++i) {
        if ((text[i] & 0xC0u) != 0x80u) return 0;
        code = (code << 6) | (text[i] & 0x3Fu);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    if (code >= 0x80 && code <= 0x9F) return 0;  // C1 controls written in UTF-8
    if (IsLayoutControl(code)) return 0;
    return size;
}

// How many bytes an unprintable byte takes when it is escaped, and its escape.
size_t EscapeByte(unsigned char byte, char (&escape)[5]) {
    static constexpr char HEX[] = "0123456789abcdef";
    escape[0] = '\\';
    switch (byte) {
        case '\t': escape[1] = 't'; return 2;
        case '\n': escape[1] = 'n'; return 2;
        case '\r': escape[1] = 'r'; return 2;
        default: break;
    }
    escape[1] = 'x';
    escape[2] = HEX[byte >> 4];
    escape[3] = HEX[byte & 0xFu];
    return 4;
}

// The length of a control character written in more than one byte, whose
// bytes are escaped alike: 2 for a C1 control in UTF-8 (U+0080 to U+009F), 3
// for a bidirectional formatting character or a separator; 0 for any other.
size_t WideControlLength(const unsigned char* text, size_t length) {
    if (length >= 2 && text[0] == 0xC2 && text[1] >= 0x80 && text[1] <= 0x9F) return 2;
    if (length >= 3 && text[0] == 0xE2 && (text[1] & 0xC0u) == 0x80u && (text[2] & 0xC0u) == 0x80u &&
        IsLayoutControl(((text[1] & 0x3Fu) << 6) | (text[2] & 0x3Fu) | 0x2000u)) {
        return 3;
    }
    return 0;
}

size_t Escape(const char* text, size_t length, char* out, size_t size, bool quoted) {
    if (size == 0) return 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    size_t used = 0;
    size_t at = 0;
    while (at < length) {
        size_t take = PrintableCharacter(bytes + at, length - at);
        if (take == 1 && quoted && (text[at] == '\\' || text[at] == '"')) {
            if (used + 2 >= size) break;
            out[used++] = '\\';
            out[used++] = text[at++];
            continue;
        }
        if (take > 0) {
            if (used + take >= size) break;
            for (size_t i = 0; i < take; ++i) out[used++] = text[at + i];
            at += take;
            continue;
        }
        // One unprintable byte, or every byte of a wider control character.
        const size_t wide = WideControlLength(bytes + at, length - at);
        take = wide != 0 ? wide : 1;
        char escapes[3][5];
        size_t escapeLength[3] = {0, 0, 0};
        size_t total = 0;
        for (size_t i = 0; i < take; ++i) {
            escapeLength[i] = EscapeByte(bytes[at + i], escapes[i]);
            total += escapeLength[i];
        }
        if (used + total >= size) break;
        for (size_t i = 0; i < take; ++i) {
            for (size_t k = 0; k < escapeLength[i]; ++k) out[used++] = escapes[i][k];
        }
        at += take;
    }
    out[used] = '\0';
    return used;
}

}  // namespace

size_t ControlLength(const char* text, size_t length) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    if (length == 0) return 0;
    if (const size_t wide = WideControlLength(bytes, length); wide != 0) return wide;
    return bytes[0] < 0x20 || (bytes[0] >= 0x7F && bytes[0] <= 0x9F) ? 1 : 0;
}

size_t UnprintableAt(const char* text, size_t length) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    size_t at = 0;
    while (at < length) {
        const size_t size = PrintableCharacter(bytes + at, length - at);
        if (size == 0) return at;
        at += size;
    }
    return length;
}

size_t EscapeForTerminal(const char* text, size_t length, char* out, size_t size) {
    return Escape(text, length, out, size, false);
}

size_t QuoteForTerminal(const char* text, size_t length, char* out, size_t size) {
    return Escape(text, length, out, size, true);
}

QuotedWord::QuotedWord(const char* word, size_t max) {
    const size_t limit = max < QUOTED_WORD_LIMIT ? max : QUOTED_WORD_LIMIT;
    size_t length = 0;
    while (length < limit && word[length] != '\0') ++length;
    QuoteForTerminal(word, length, text, sizeof text);
}

}  // namespace marlek_board
