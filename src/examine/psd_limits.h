// Limits of the PSD checker, each with the reason for its value.
#pragma once

#include <cstddef>
#include <cstdint>

namespace psd {

// The failure text becomes the message of a 512-byte result record, which
// also carries the path; 99 characters plus the terminator fit beside the
// longest path the front end sends.
inline constexpr size_t kErrorTextBytes = 100;

// Read-ahead of the file source: large enough that the many small header
// reads cost no system call each, small enough to sit in any worker.
inline constexpr size_t kReadAheadBytes = 64 * 1024;

// A packed row's length is a 16-bit field, so one fixed buffer holds any row.
inline constexpr size_t kMaxPackedRowBytes = 0xFFFF;

// Pascal-string names (resource and layer names) have a one-byte length.
inline constexpr size_t kMaxNameBytes = 0xFF;

// Fixed parts of the records, used to refuse a count before allocating for
// it: a count whose records cannot fit in the bytes left is a damaged file.
inline constexpr uint64_t kChannelRecordBytes = 6;   // ID (2) + data length (4)
inline constexpr uint64_t kLayerRecordMinBytes = 34; // rect, channel count, blend, opacity..., extra size
inline constexpr uint64_t kRowLengthBytes = 2;       // one packed row's byte count

// The 16 bytes of a mask rectangle, the default colour and the flags: the
// part of a layer mask record the checker prints.
inline constexpr uint64_t kMaskRecordMinBytes = 18;

}  // namespace psd
