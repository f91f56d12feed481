// The two wire formats between the front end and a worker.
//
// Request (front end -> worker standard input): a 4-byte little-endian
// signed count N, the mode line ("internal" or the converter's path), then
// N path lines; every line ends in "\n" and holds at most 1998 bytes.
//
// Result record (worker standard output): exactly 512 bytes:
//   [0]       result code
//   [1]       image type letter; in an 'N' record the low 8 bits of the
//             number of records that follow
//   [2..]     path, then a zero byte
//   [..]      message, then a zero byte
//   the rest  zero (the reader ignores it)
// Every answer is one 'N' record followed by that many result records.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wire {

inline constexpr size_t kRecordSize = 512;
// Longest text of one request line, not counting its "\n".
inline constexpr size_t kLineMax = 1998;
// The most paths one request may name: the 'N' record carries the count in
// one byte, so a longer answer could not be announced.
inline constexpr int32_t kMaxPaths = 255;
inline constexpr const char* kInternalMode = "internal";

// Result codes. The worker sends N, G, B, S and E; the front end adds
// C (a worker died or gave no answer), H (hash error) and O (anything else).
inline constexpr char kCount = 'N';
inline constexpr char kValid = 'G';
inline constexpr char kInvalid = 'B';
inline constexpr char kSkipped = 'S';
inline constexpr char kError = 'E';
inline constexpr char kIndeterminate = 'C';
inline constexpr char kHashError = 'H';
inline constexpr char kOther = 'O';

// Image type letters, following the image type codes 1..5 and 0.
inline constexpr char kTypeLetterJPEG = 'J';
inline constexpr char kTypeLetterTIFF = 'T';
inline constexpr char kTypeLetterDNG = 'D';
inline constexpr char kTypeLetterRaw = 'R';
inline constexpr char kTypeLetterPSD = 'P';
inline constexpr char kTypeLetterUnknown = '?';

// The letter of an image type code; '?' for 0, -1 and anything unknown.
char type_letter(int type_code);

using RecordBytes = std::array<char, kRecordSize>;

// Whether a path and message fit one record (n + m + 4 <= 512).
bool record_fits(std::string_view path, std::string_view message);
// Encodes one record; nothing when the texts do not fit. Texts stop at an
// embedded zero byte, as the reader would see them.
std::optional<RecordBytes> encode_record(char code, char type, std::string_view path, std::string_view message);
// The 'N' record announcing count records.
RecordBytes encode_count_record(int count);

struct Record {
  char code = 0;
  unsigned char type = 0;  // letter, or the count byte of an 'N' record
  std::string path;
  std::string message;
};

// Decodes 512 bytes; nothing when the path or message has no terminator
// inside the record (a garbled record).
std::optional<Record> decode_record(const char* bytes, size_t size);

// The bytes of a request.
std::string encode_request(std::string_view mode, const std::vector<std::string>& paths);
// A request whose count field is given explicitly (tests send wrong ones).
std::string encode_request_with_count(int32_t count, std::string_view mode, const std::vector<std::string>& paths);

}  // namespace wire
