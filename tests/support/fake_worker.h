// The test side of the fake worker (fake_worker.cc): where it is, how to
// script it, and what it noted.
//
// The script ROOT/fake_worker.script holds one line per file, fields
// separated by tabs:
//
//   NAME  ACTION  [TYPE  [DELAY_MS  [MESSAGE]]]
//
// NAME is a file's base name, or "*" for every file no other line names
// (unnamed files otherwise answer 'G', 'J' with no message). Lines that are
// empty or begin with "#" are ignored. DELAY_MS is slept before answering.
// ACTION is one of:
//   a single letter   answer 'N' (count 1) and {that code, TYPE, path, MESSAGE}
//   die-before        end (status 3) without answering
//   die-after         answer, then end at once
//   gone-after        close standard input, answer, close standard output,
//                     and end half a second later
//   two-n             send the 'N' record twice, then the record
//   not-n             send the record without an 'N' record before it
//   zero-n            send an 'N' record with the count 0, then the record
//   garbled           send 'N', then 512 bytes without a zero byte
//   short             send 'N' and 100 bytes of a record, then hang
//   close-output      close standard output and hang
//   hang              never answer
//
// A test can hold answers back: while ROOT/fake_worker.allow holds a number
// (allow_fake_answers), the fake workers of the root give only that many
// normal answers in all, and the rest wait until the number is raised.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace testing_support {

inline std::string fake_worker_path() { return FAKE_WORKER_PATH; }

// One request as the fake worker noted it.
struct FakeRequest {
  pid_t pid = 0;
  int count = 0;
  std::string mode;
  std::vector<std::string> paths;
};

// Writes the script into the property root, replacing an earlier one.
inline void write_fake_script(const std::string& root, const std::string& script) {
  std::ofstream(root + "/fake_worker.script", std::ios::binary | std::ios::trunc) << script;
}

// Lets the fake workers of a root give count answers in all (from the start
// of the root's life); those past it wait.
inline void allow_fake_answers(const std::string& root, long count) {
  std::ofstream(root + "/fake_worker.allow.tmp", std::ios::trunc) << count << "\n";
  std::rename((root + "/fake_worker.allow.tmp").c_str(), (root + "/fake_worker.allow").c_str());
}

// The requests the fake workers of a property root received, in order.
inline std::vector<FakeRequest> fake_transcript(const std::string& root) {
  std::vector<FakeRequest> requests;
  std::ifstream in(root + "/fake_worker.transcript");
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::stringstream split(line);
    std::string field;
    while (std::getline(split, field, '\t')) fields.push_back(field);
    if (fields.size() < 3) continue;
    FakeRequest r;
    r.pid = static_cast<pid_t>(std::stol(fields[0]));
    r.count = std::stoi(fields[1]);
    r.mode = fields[2];
    r.paths.assign(fields.begin() + 3, fields.end());
    requests.push_back(r);
  }
  return requests;
}

// The process ids of every fake worker started with a property root.
inline std::vector<pid_t> fake_starts(const std::string& root) {
  std::vector<pid_t> pids;
  std::ifstream in(root + "/fake_worker.starts");
  long pid;
  while (in >> pid) pids.push_back(static_cast<pid_t>(pid));
  return pids;
}

}  // namespace testing_support
