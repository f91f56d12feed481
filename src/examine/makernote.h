// Entry point of the camera maker-note decoders: the examiner calls it for
// every MakerNote entry (tag 37500) it reads.
#pragma once

#include <cstdint>
#include <cstdio>

#include "examine/print_hook.h"

// What a maker note told the examiner, for its summary items and counters.
struct MakerNoteFindings {
  uint32_t actuations = 0;  // shutter count, 0 when the note has none
  char serial[64] = "";     // camera serial number, "" when none was found
  int total = 0;            // counters kept over one examination
  int count = 0;
};

// Prints the maker note (note_length bytes at note, a copy of the entry's
// value) of a camera whose Make and Model are given ("" when unknown).
// big_endian is the byte order of the file's TIFF structure; file is the
// file under examination, in which TIFF offsets count from tiff_base. The
// file position may be moved. Fills *findings (actuations and serial are
// cleared by the caller before each call). The decoders' warnings go to
// standard error unless warnings is false.
void print_maker_notes(PrintFn print, const char* model, const uint8_t* note, uint32_t note_length,
                       const char* make, bool big_endian, FILE* file, uint64_t tiff_base,
                       MakerNoteFindings* findings, bool warnings = true);
