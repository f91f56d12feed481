// hash_check, hash_store, hash_exists and compareFiles.
#include "frontend/core/hash_context.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "frontend/core/hash_key.h"

namespace frontend {

namespace {

// Paths at or above this length are not compared.
constexpr size_t kComparePathLimit = 1200;
constexpr size_t kComparePiece = 1024;
constexpr const char* kChangedSinceStored = "\tFile has changed since its reference hash was stored\n";

struct FileCloser {
  void operator()(FILE* file) const { fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

}  // namespace

bool HashContext::hash_check(const char* path, bool* no_reference, std::string* folder) {
  if (!check_hashes_) return true;
  *no_reference = true;
  std::string key;
  uint8_t stored[kSha512DigestSize];
  if (!stored_reference(path, &key, stored)) return false;
  *no_reference = false;
  // The key is built once: the digest needs only the file's contents.
  uint8_t digest[kSha512DigestSize];
  hash_file_digest(path, digest, cancel_);
  if (std::memcmp(digest, stored, sizeof digest) == 0) return true;
  if (folder != nullptr) db_hash_folder(db_, key.c_str(), folder);
  return false;
}

bool HashContext::stored_reference(const char* path, std::string* key, uint8_t reference[kSha512DigestSize]) {
  make_hash_key(nullptr, *exif_, path, key);
  return db_get_hash(db_, key->c_str(), reference);
}

bool HashContext::hash_store(const char* path) {
  std::string key;
  uint8_t digest[kSha512DigestSize];
  make_hash_key(digest, *exif_, path, &key, cancel_);
  static constexpr uint8_t kZero[kSha512DigestSize] = {};
  if (std::memcmp(digest, kZero, sizeof digest) == 0) return false;
  return db_put_hash(db_, digest, path, key.c_str());
}

bool HashContext::hash_exists(const char* path) {
  std::string key;
  make_hash_key(nullptr, *exif_, path, &key);
  uint8_t stored[kSha512DigestSize];
  return db_get_hash(db_, key.c_str(), stored);
}

void compareFiles(RunLogSink& log, const char* folder, const char* path) {
  if (std::strlen(path) >= kComparePathLimit) {
    log.appendRunLog("\tCan't compare files - path too long\n");
    return;
  }
  // Paths here use "/" only: a backslash is an ordinary character in a
  // file name and is left alone.
  std::string own(path);
  size_t slash = own.rfind('/');
  std::string base = slash == std::string::npos ? own : own.substr(slash + 1);
  if (std::strlen(folder) + base.size() + 1 >= kComparePathLimit) {
    log.appendRunLog("\tCan't compare files - dir and file name too long\n");
    return;
  }
  std::string other = std::string(folder) + "/" + base;

  File mine(fopen(own.c_str(), "rb"));
  File theirs(fopen(other.c_str(), "rb"));
  if (!mine || !theirs) {
    log.appendRunLog("\tCan't open path - no file comparison possible\n");
    return;
  }
  // A reference stored from this folder names the checked file itself (or
  // the other name leads to it): there is nothing to compare it with, and
  // its digest differs because the file changed after the reference.
  struct stat mine_st, theirs_st;
  if (fstat(fileno(mine.get()), &mine_st) == 0 && fstat(fileno(theirs.get()), &theirs_st) == 0 &&
      mine_st.st_dev == theirs_st.st_dev && mine_st.st_ino == theirs_st.st_ino) {
    log.appendRunLog(kChangedSinceStored);
    return;
  }
  char a[kComparePiece], b[kComparePiece];
  for (;;) {
    size_t n = fread(a, 1, sizeof a, mine.get());
    size_t m = fread(b, 1, sizeof b, theirs.get());
    if (n == 0) {
      log.appendRunLog(m > 0 ? "\tFiles are different sizes\n"
                             : "\t***** Files are identical (hashing problem) *****\n");
      return;
    }
    if (n != m) {
      log.appendRunLog("\tFiles have different sizes\n");
      return;
    }
    if (std::memcmp(a, b, n) != 0) {
      log.appendRunLog("\tFiles have different contents\n");
      return;
    }
  }
}

}  // namespace frontend
