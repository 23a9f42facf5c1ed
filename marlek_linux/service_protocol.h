// What the board library, marlek-board and the board service say to each
// other over the service's socket (a Unix stream socket). Every message is an
// eight-byte header, then a body of at most MAX_BODY bytes:
//
//   bytes 0-1  'M' 'B'
//   byte  2    the protocol's version (PROTOCOL_VERSION)
//   byte  3    the kind of message (MessageKind)
//   bytes 4-7  the body's length, little-endian
//
// A client sends Hello once, then Call, each answered by one Answer, or
// Status, answered by StatusAnswer; or Watch, after which the service sends
// Change, the board as it is first and then after each change, until the
// client goes. Anything else (another mark, version or kind, a body too long
// or of the wrong size for its kind) is refused and the client dropped.
#ifndef MARLEK_LINUX_SERVICE_PROTOCOL_H
#define MARLEK_LINUX_SERVICE_PROTOCOL_H

#include <cstddef>
#include <cstdint>

#include "board_engine.h"
#include "error_record.h"

namespace marlek_linux {

inline constexpr const char* SERVICE_VARIABLE = "MARLEK_BOARD_SERVICE";
inline constexpr const char* DEFAULT_SERVICE_PATH = "/run/marlek-board/board.sock";
inline constexpr const char* SERVICE_CONSUMER = "marlek-boardd";  // the lines it holds, as the kernel lists them

inline constexpr uint8_t PROTOCOL_VERSION = 1;
inline constexpr size_t HEADER_SIZE = 8;
inline constexpr size_t MAX_BODY = 16 * 1024;
inline constexpr size_t MAX_MESSAGE = HEADER_SIZE + MAX_BODY;
inline constexpr size_t CALL_BODY = 8;
inline constexpr size_t ANSWER_FIXED = 3;  // status, code and value, then the text

enum class MessageKind : uint8_t {
    Hello = 1,         // who calls: the program's MARLEK_BOARD, empty when it has none
    Call = 2,          // a call of the board library (CALL_BODY bytes)
    Answer = 3,        // its outcome: the status (0: done), the failure's code, the value read, its text
    Status = 4,        // what the service holds (no body)
    StatusAnswer = 5,  // lines of text: "name value"
    Watch = 6,         // the board, now and at every change (no body)
    Change = 7,        // the board, why it is sent, and who changed it
};

// The board as a watch shows it, one byte a field.
struct BoardSnapshot {
    uint8_t pinsDescribed = 0;  // the pins the description maps
    uint8_t pinsHeld = 0;       // 1: the service holds the pins' lines
    uint8_t outputMask = 0;
    uint8_t pushPullMask = 0;
    uint8_t drivenLevels = 0;
    uint8_t levels = 0;         // the levels a read gives, when levelsKnown
    uint8_t levelsKnown = 0;
    uint8_t ledKind = 0;        // LedKind
    uint8_t led = 0;            // LedShown
    uint8_t modes[2] = {};      // each pair's SerialMode, as last switched
    uint8_t modeLines[2] = {};  // how many mode lines each pair has
    uint8_t modeValues[2] = {}; // their values (bit i: line i), when held
    uint8_t modeLinesHeld[2] = {};
    uint8_t ttys[2][2] = {};    // each pair's ttys: TtyShown

    bool operator==(const BoardSnapshot&) const = default;
};
static_assert(sizeof(BoardSnapshot) == 21, "a snapshot travels as its bytes");

enum LedShown : uint8_t { LED_OFF_SHOWN, LED_ON_SHOWN, LED_NOT_KNOWN };
enum TtyShown : uint8_t { TTY_NONE, TTY_NOT_KNOWN, TTY_RS485_OFF, TTY_RS485_ON };

enum class ChangeCause : uint8_t {
    Now = 0,      // the board as it is: the first, and after changes were missed
    Call = 1,     // a call of a program (the peer)
    Outside = 2,  // an input's level changed from outside
};

inline constexpr size_t PROGRAM_NAME_SIZE = 16;  // the kernel's comm, with its NUL
inline constexpr size_t USER_NAME_SIZE = 32;     // a user's name, as useradd allows it

struct ChangeNote {
    ChangeCause cause = ChangeCause::Now;
    uint32_t missed = 0;  // changes the watcher could not take before this one
    int64_t timeMs = 0;   // wall clock, ms since 1970
    uint32_t uid = 0;
    int32_t pid = 0;
    char program[PROGRAM_NAME_SIZE + 1] = "";
    char user[USER_NAME_SIZE + 1] = "";  // the uid's name on the service's system; empty when it has none
    BoardSnapshot board;
};

inline constexpr size_t CHANGE_BODY =
    1 + 4 + 8 + 4 + 4 + 1 + PROGRAM_NAME_SIZE + 1 + USER_NAME_SIZE + sizeof(BoardSnapshot);

// Who made a change (uid, pid, program, user) as it travels in the change's
// body: the same for every change of one client, so made once for it.
inline constexpr size_t CHANGE_WHO_SIZE = 4 + 4 + 1 + PROGRAM_NAME_SIZE + 1 + USER_NAME_SIZE;
void PutChangeWho(uint32_t uid, int32_t pid, const char* program, const char* user,
                  uint8_t (&who)[CHANGE_WHO_SIZE]);

// A whole Change message (HEADER_SIZE + CHANGE_BODY bytes) from its parts.
void PutChangeMessage(ChangeCause cause, uint32_t missed, int64_t timeMs, const uint8_t (&who)[CHANGE_WHO_SIZE],
                      const BoardSnapshot& board, uint8_t (&message)[HEADER_SIZE + CHANGE_BODY]);

// A change's body, and back; false for a body that is no change.
size_t PutChange(const ChangeNote& note, uint8_t (&body)[CHANGE_BODY]);
bool TakeChange(const uint8_t* body, size_t length, ChangeNote& note);

enum class HeaderCheck : uint8_t { Ok, BadMark, BadVersion, BadKind, TooLong };

// Whether the HEADER_SIZE bytes at header begin a message the receiver may
// take; its kind and body length when they do. fromService: the receiver is a
// client (it takes Answer and StatusAnswer), else the service.
HeaderCheck ReadHeader(const uint8_t* header, bool fromService, MessageKind& kind, uint32_t& length);

// What a refused header is, for texts: "not a message of this protocol".
const char* HeaderCheckText(HeaderCheck check);

// A whole message into out (at least HEADER_SIZE + length bytes); its size.
size_t PutMessage(MessageKind kind, const void* body, size_t length, uint8_t* out);

// A call's body, and back. False for a body that is no call.
void PutCall(const BoardRequest& request, uint8_t (&body)[CALL_BODY]);
bool TakeCall(const uint8_t* body, size_t length, BoardRequest& request);

// An answer's body from the call's status, the value read and the failure's
// record; its length (at most MAX_BODY).
size_t PutAnswer(LibStatus status, uint8_t value, const marlek_board::ErrorRecord& failure, uint8_t* body);

// The answer back: the status the call returns (0, or the failure's code, or
// 0xFF for code 0), the value, and the failure recorded in failure, its text
// escaped again, since it comes from outside the program. False for a body
// that is no answer.
bool TakeAnswer(const uint8_t* body, size_t length, LibStatus& status, uint8_t& value,
                marlek_board::ErrorRecord& failure);

}  // namespace marlek_linux

#endif  // MARLEK_LINUX_SERVICE_PROTOCOL_H
