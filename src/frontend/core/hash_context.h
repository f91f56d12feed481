// Reference hashes: checking a file against its stored digest, storing a
// digest, testing for one, and comparing a file byte by byte with the one
// the reference was made from.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "frontend/core/database.h"
#include "frontend/core/exif_time.h"
#include "frontend/core/run_log.h"
#include "frontend/core/sha512.h"

namespace frontend {

// Made once at start-up and kept until quitting; used by the run thread
// only while a run lives. Owns the EXIF time source (the examiner holder).
class HashContext {
 public:
  HashContext(Database& db, RunLogSink& log, std::unique_ptr<ExifTimeSource> exif)
      : db_(db), log_(log), exif_(std::move(exif)) {}

  // The run's CheckHashes option; off until set.
  void set_check_hashes(bool on) { check_hashes_ = on; }
  // Stop: a digest in progress ends at its next piece when the flag is set
  // (the check or store then fails; the caller looks at the flag).
  void set_cancel_flag(const std::atomic<bool>* cancel) { cancel_ = cancel; }

  // true when the file passes (always with CheckHashes off). On false,
  // *no_reference tells whether no digest was stored under the file's key;
  // when one was, *folder (when given) receives the folder it was recorded
  // in.
  bool hash_check(const char* path, bool* no_reference, std::string* folder);
  // The first half of a check, for a run that computes digests elsewhere:
  // builds the file's key once into *key and reads the digest stored under
  // it into reference. false when none is stored (a failure to read it is
  // reported as db_get_hash does).
  bool stored_reference(const char* path, std::string* key, uint8_t reference[kSha512DigestSize]);
  // Stores the file's digest; false when it could not be read (an all-zero
  // digest is never stored) or the store failed.
  bool hash_store(const char* path);
  // Whether a digest is stored under the file's key.
  bool hash_exists(const char* path);

  RunLogSink& log() { return log_; }

 private:
  Database& db_;
  RunLogSink& log_;
  std::unique_ptr<ExifTimeSource> exif_;
  bool check_hashes_ = false;
  const std::atomic<bool>* cancel_ = nullptr;
};

// Compares the file at path with the file of the same name in folder and
// writes exactly one verdict line into the run log. When both names lead to
// one file (the reference was stored from this very file), the line says
// that the file has changed since, and nothing is compared.
void compareFiles(RunLogSink& log, const char* folder, const char* path);

}  // namespace frontend
