// The hash key: an image identified by its name, size, modification time
// and EXIF time rather than by its path, so that a copy moved to another
// folder keeps its key. Stored digests are filed under these keys: every
// rule here is part of the database format.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "frontend/core/exif_time.h"
#include "frontend/core/sha512.h"

namespace frontend {

inline constexpr const char* kNoModTime = "[no modtime]";
inline constexpr const char* kNoExifTime = "[no exif time]";

// The text after the last "/" of the path (the whole path when there is
// none); a backslash belongs to the name.
std::string hash_key_base_name(const char* path);

// Builds "<base name>/<size>/<modification time>/<EXIF time>" into *key and,
// when digest is not null, the digest of the whole file.
//   size: the file size as a signed 32-bit value (the size field the keys
//     were first made with), printed as a 64-bit decimal; 0 without status.
//   modification time: local time "%Y-%m-%d %H:%M:%S"; "[no modtime]"
//     without status.
//   EXIF time: from the source; "[no exif time]" when it is empty or "/".
// false when the status, the EXIF time or the file's contents could not be
// had; an unreadable file (or one that is not a regular file) gives a digest
// of 64 zero bytes. A set cancel flag ends the digest at its next piece, as
// a read failure does.
bool make_hash_key(uint8_t* digest, ExifTimeSource& exif, const char* path, std::string* key,
                   const std::atomic<bool>* cancel = nullptr);

// A key as the hash window shows it: every "/" replaced by " - ".
std::string hash_key_display(const std::string& key);

// The digest of a whole file, read in pieces of 10240 bytes. false (and 64
// zero bytes) when it cannot be opened or read, or is not a regular file,
// or when the cancel flag (looked at before every piece) is set.
bool hash_file_digest(const char* path, uint8_t digest[kSha512DigestSize],
                      const std::atomic<bool>* cancel = nullptr);

}  // namespace frontend
