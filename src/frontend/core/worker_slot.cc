#include "frontend/core/worker_slot.h"

namespace frontend {

void WorkerSlot::add_path(const std::string& path) {
  paths.push_back(path);
  answered.push_back(false);
}

void WorkerSlot::mark_answered(const std::string& path) {
  for (size_t i = 0; i < paths.size(); ++i) {
    if (!answered[i] && paths[i] == path) {
      answered[i] = true;
      return;
    }
  }
}

std::string WorkerSlot::first_unanswered() const {
  for (size_t i = 0; i < paths.size(); ++i) {
    if (!answered[i]) return paths[i];
  }
  return paths.empty() ? std::string() : paths.front();
}

void WorkerSlot::clear_request() {
  paths.clear();
  answered.clear();
}

void WorkerSlot::reset() {
  answer_pipe.reset();
  request_pipe.reset();
  process = platform::ChildProcess();
  clear_request();
  available = false;
  files_assigned = 0;
}

}  // namespace frontend
