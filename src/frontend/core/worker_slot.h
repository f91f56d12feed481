// One place in the worker pool: a worker process, the two pipe ends the
// front end keeps to talk to it, and the request it is serving.
//
// Owned by the pool; used by the run thread during a run and by the window's
// thread only when quitting, never by both at once.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/process.h"

namespace frontend {

struct WorkerSlot {
  // Read end of the worker's standard output: answers arrive here.
  platform::Fd answer_pipe;
  // Write end of the worker's standard input: requests go here.
  platform::Fd request_pipe;
  // The worker. Not started means the slot is empty. Once reaped, its number
  // is never signalled again (it may belong to another process by then).
  platform::ChildProcess process;
  // The paths of the request in progress, or of the raw batch being gathered.
  std::vector<std::string> paths;
  // answered[i] is set once a record for paths[i] has been read, so that a
  // worker dying part-way through an answer is blamed on a path it still owes.
  std::vector<bool> answered;
  // True while the worker has no request in progress.
  bool available = false;
  // Paths given to the slot since it was last emptied.
  int files_assigned = 0;

  bool has_process() const { return process.started(); }
  bool busy() const { return has_process() && !available; }
  bool idle() const { return has_process() && available; }

  // Adds a path to the request being built.
  void add_path(const std::string& path);
  // Marks the first path equal to a record's path that has no answer yet.
  void mark_answered(const std::string& path);
  // The first path without an answer; the first path when all have one;
  // empty when the slot holds none.
  std::string first_unanswered() const;
  // Forgets the request: no paths, no answers.
  void clear_request();
  // Empties the slot: closes both pipes, forgets the process, the request
  // and the counts. The process must have been ended and reaped before.
  void reset();
};

}  // namespace frontend
