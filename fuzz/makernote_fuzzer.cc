// Decodes arbitrary bytes as a maker note: the first byte picks the Make,
// the second the file's byte order, the rest is the note. The whole input
// also stands for the file, from which most makers fetch their strings.
// Every line is formatted (and thrown away), so a bad argument shows.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "examine/makernote.h"

namespace {

size_t printed_bytes = 0;

int print_silently(const char* format, ...) {
  char line[2048];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n > 0) printed_bytes += static_cast<size_t>(n);
  return n;
}

const char* const kMakes[] = {
    "Canon",     "OLYMPUS OPTICAL CO.,LTD", "FUJIFILM",           "NIKON CORPORATION", "CASIO COMPUTER CO.,LTD.",
    "Minolta",   "SANYO Electric Co.,Ltd.", "Asahi Optical Co.",  "PENTAX Corporation", "LEICA",
    "Panasonic", "SIGMA",                   "Unknown Maker Inc.", "",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const char* make = kMakes[data[0] % (sizeof kMakes / sizeof kMakes[0])];
  const bool big_endian = (data[1] & 1) != 0;
  // The note in a block of exactly its size, so that a read past it shows.
  std::vector<uint8_t> note(data + 2, data + size);
  FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  MakerNoteFindings findings;
  print_maker_notes(print_silently, "Model", note.data(), static_cast<uint32_t>(note.size()), make, big_endian, file,
                    0, &findings);
  if (findings.total > 65535) abort();  // one note holds at most 65535 entries
  if (file != nullptr) fclose(file);
  return 0;
}
