// Recursive folder walker and the one-folder file lister built on it.
//
// A walk reports the start folder, then each entry of each folder in name
// order; a sub-folder is walked at once, before the next entry. Only folders
// and regular files (or links to them) are reported: FIFOs, sockets and
// devices are passed over, since opening one could block a check forever.
// Folders are entered once per walk, so a link back into the tree ends.
#pragma once

#include <sys/stat.h>

struct WalkInfo {
  int base;   // offset of the base name within the path
  int level;  // depth: the start folder has the depth given to the walk
  int error;  // kWalkUnreadable: the errno that kept the walk out
};

enum { kWalkFile = 1, kWalkFolder = 2, kWalkUnreadable = 3 };

// Called for each folder (kind 2) and file (kind 1), and (kind 3, with st
// null unless the entry's status was had) for each folder that cannot be
// listed and each entry whose status cannot be had or whose path is too
// long; the walk goes on past those. A non-zero result stops the walk and
// becomes its result.
using WalkCallback = int (*)(const char* path, const struct stat* st, int kind, const WalkInfo* info, void* user);

// Receives the text of a failure to get an entry's status (the front end's
// run log, the worker's standard error). None set: the text is dropped.
using WalkOutputHook = void (*)(const char* format, ...);
void walk_set_output_hook(WalkOutputHook hook);

// Walks folder; depth -1 means depth 0 without descending into sub-folders.
// Gives 0 when the walk finished, the callback's non-zero result when it
// stopped the walk, -1 on a failure.
int walk_folder(const char* folder, WalkCallback callback, int depth, void* user);

// Status of one path and the callback for it; -1 when the status cannot be had.
int call_fn(int depth, const char* path, WalkCallback callback, bool is_folder, void* user);

struct FileList {
  int capacity;
  int count;
  int cursor;
  char** names;  // owned copies of base names
};

// Names of the entries directly inside folder (files and sub-folders), or
// nullptr when the folder does not exist or memory ran out.
FileList* list_files(const char* folder);
void free_file_list(FileList* list);
// The callback list_files walks with: keeps the reports of depth 1.
int collect_file_name(const char* path, const struct stat* st, int kind, const WalkInfo* info, void* user);
