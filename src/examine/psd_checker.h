// The PSD structure checker: walks a layered image document section by
// section, checks the lengths and signatures that tie the sections together
// and the packed rows of the merged image, and prints what it reads through
// a print hook.
//
// The worker runs it silently; the front end's examination window points
// the hook at its own printer for the length of one dump. The hook and the
// error text are process-wide: one check at a time, on one thread (the
// worker's main thread or the front end's user-interface thread).
#pragma once

#include <cstddef>
#include <cstdint>

// A printf-style routine that receives every line of the dump.
using PsdPrintHook = void (*)(const char* format, ...);

// The silent hook: formats nothing and never touches standard output,
// which is the worker's result channel.
void psd_print_nothing(const char* format, ...);

// The current hook; psd_print_nothing until a caller swaps it.
extern PsdPrintHook psd_print;

// Sets psd_print for the life of the object and restores the previous hook.
class PsdPrintScope {
 public:
  explicit PsdPrintScope(PsdPrintHook hook) : saved_(psd_print) { psd_print = hook; }
  ~PsdPrintScope() { psd_print = saved_; }
  PsdPrintScope(const PsdPrintScope&) = delete;
  PsdPrintScope& operator=(const PsdPrintScope&) = delete;

 private:
  PsdPrintHook saved_;
};

// Checks the PSD file at path. True when the whole file checks out. *error
// (when given) points at the process-wide error text: the first failure, at
// most 99 characters, or "" when the check passed. It stays valid until the
// next check. A file that cannot be opened gives false with "can't open".
bool verifyPSD(const char* path, const char** error);

// The same check over bytes in memory; name is what the dump prints as the
// file's path.
bool verifyPSDMemory(const uint8_t* data, size_t size, const char* name, const char** error);

// Counts the bytes a PackBits-packed row expands to. A header byte n of 0 to
// 127 is followed by n + 1 literal bytes; -1 to -127 repeat the next byte
// 1 - n times; -128 is a no-op. A run that would pass the end of the data
// ends the count without adding to it.
uint64_t checkPackedLine(const uint8_t* data, size_t length);

namespace psd {
// Bytes the work buffers (layer tables, row lengths, one packed row) held at
// the end of the last check; tests use it to see that a hostile count never
// turned into a large allocation.
uint64_t lastCheckWorkBytes();
}  // namespace psd
