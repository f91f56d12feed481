// The TIFF-family structure examiner: a silent read of a file's header and
// first directory (the worker tells TIFF from DNG with it) and a printed
// walk of every directory (the front end's structure dump and hash key).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_set>
#include <vector>

#include "examine/file_source.h"
#include "examine/makernote.h"
#include "examine/print_hook.h"

class TV_IFD;

// One value kept by the summary mode, a maker note or the CIFF and X3F walks.
struct SummaryItem {
  int32_t tag;
  int type;
  uint32_t single_value;
  uint32_t value_length;  // bytes
  int kind;               // 2 EXIF directory, 1 first directory, else 0
  std::string name;
  std::string text;
};

struct SummaryList {
  std::vector<SummaryItem> items;  // in the order they were appended
};

// Everything one examination reads. Made by examine_file or walk_file and
// owned by the caller's ExaminerContext until the next examination or
// free_examiner_context. Used by one thread at a time.
struct ExaminerState {
  ExaminerState(FILE* file, const char** message, PrintFn print);
  ~ExaminerState();
  ExaminerState(const ExaminerState&) = delete;
  ExaminerState& operator=(const ExaminerState&) = delete;

  FILE* file;
  const char** message;  // the context's message
  bool big_endian = false;
  TV_IFD* first = nullptr;  // owned, with every directory below it
  std::vector<uint8_t> scratch;  // the current entry's value
  PrintFn print;
  bool maker_note_warnings = true;  // the context's
  uint64_t base = 0;  // where the TIFF structure starts; offsets count from here

  // Texts taken from the entries, cut to their size and always terminated.
  char date_time_digitized[100] = "";
  char sub_sec_time_digitized[20] = "";
  char date_time[100] = "";  // tag 306
  char make[25] = "";
  char model[25] = "";
  int orientation = 1;
  SummaryList summary;
  MakerNoteFindings maker_note;
  bool summary_all = false;

  // Bookkeeping that keeps a walk finite whatever the file says.
  FileSource source;
  std::unordered_set<uint64_t> visited;  // absolute offsets of directories read
  uint32_t directories = 0;
  uint32_t entries = 0;
  int depth = 0;

  // Sets the message and gives false: every failure passes here.
  bool fail(const char* text);
};

// What a caller hands the examiner.
struct ExaminerContext {
  bool owns_file = false;  // true when the examiner opened the file itself
  FILE* file = nullptr;    // none: the examiner opens the path
  const char* message = "OK";  // the failure that stopped the last examination
  ExaminerState* state = nullptr;  // owned
  PrintFn print = print_nothing;
  // The maker-note decoders' warnings on standard error. A walk that must
  // print nothing at all turns them off.
  bool maker_note_warnings = true;
};

// A context over an open file that stays the caller's (or none), message "OK".
ExaminerContext* new_examiner_context(FILE* file, PrintFn print);

// The worker's entry: reads the header and the first directory silently
// (whatever the print callback). True when they were read; the first
// directory's is_dng then tells a DNG.
bool examine_file(const char* path, ExaminerContext* context);
// The front end's entry: prints the structure dump. With stop_after_exif it
// reads the first directory, its EXIF and GPS directories and nothing else,
// which is what the hash key's EXIF time needs.
bool walk_file(const char* path, ExaminerContext* context, bool stop_after_exif);
// Closes the file when the context owns it, frees the state and the context.
void free_examiner_context(ExaminerContext* context);

enum class ExamineMode { read, walk, walk_stop_after_exif };

// Recognises the container (TIFF, FUJIFILM, MRW, JFIF, EXIF, CIFF, X3F) and
// reads or walks the structure in it.
bool examine_header(ExaminerState* state, ExamineMode mode);

void summary_append(ExaminerState* state, int32_t tag, int type, uint32_t single_value,
                    uint32_t value_length, int kind, const char* name, const char* text);
