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
// Status, answered by StatusAnswer. Anything else (another mark, version or
// kind, a body too long or of the wrong size for its kind) is refused and the
// client dropped.
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
};

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
