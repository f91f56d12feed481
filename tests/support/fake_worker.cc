// A scriptable stand-in for corvex, for the worker pool's tests.
//
// Usage as the pool runs it: fake_worker ROOT
//
// It reads requests on standard input and answers with result records on
// standard output, in the worker's formats (util/worker_wire.h). What it
// answers for a file is looked up by the file's base name in the script
// ROOT/fake_worker.script, read afresh for every request; see fake_worker.h
// for the script's lines and actions. In "internal" mode it answers for the
// first path; in converter mode (any other mode line) it answers 'N' and one
// record of type 'R' per path, and the first path's action applies.
//
// It keeps records of itself in ROOT:
//   fake_worker.starts      one line per start: its process id
//   fake_worker.transcript  one line per request: pid, count, mode line and
//                           the paths, separated by tabs
// and writes one line per request to standard error:
//   "fake_worker <pid>: <count> <mode line> <first path>".
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "util/worker_wire.h"

namespace {

std::string root;

struct Entry {
  std::string action = "G";  // a one-letter result code, or an action name
  char type = 'J';
  int delay_ms = 0;
  std::string message;
};

std::vector<std::string> split_tabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

std::map<std::string, Entry> read_script() {
  std::map<std::string, Entry> script;
  std::ifstream in(root + "/fake_worker.script");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    auto fields = split_tabs(line);
    Entry entry;
    if (fields.size() > 1 && !fields[1].empty()) entry.action = fields[1];
    if (fields.size() > 2 && !fields[2].empty()) entry.type = fields[2][0];
    if (fields.size() > 3 && !fields[3].empty()) entry.delay_ms = atoi(fields[3].c_str());
    if (fields.size() > 4) entry.message = fields[4];
    script[fields[0]] = entry;
  }
  return script;
}

Entry look_up(const std::map<std::string, Entry>& script, const std::string& path) {
  size_t slash = path.rfind('/');
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  auto it = script.find(base);
  if (it == script.end()) it = script.find("*");
  return it == script.end() ? Entry() : it->second;
}

void append_line(const std::string& name, const std::string& line) {
  int fd = open((root + "/" + name).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  ssize_t ignored = write(fd, line.data(), line.size());
  (void)ignored;
  close(fd);
}

void put(const char* bytes) {
  if (write(1, bytes, wire::kRecordSize) != static_cast<ssize_t>(wire::kRecordSize)) _exit(1);
}

void put_count(int count) { put(wire::encode_count_record(count).data()); }

struct Answer {
  char code;
  char type;
  std::string path;
  std::string message;
};

void put_record(const Answer& a) {
  auto bytes = wire::encode_record(a.code, a.type, a.path, a.message);
  if (!bytes) _exit(1);
  put(bytes->data());
}

// The answer gate: while ROOT/fake_worker.allow holds a number, only that
// many answers are given, over all the fake workers of the root (each answer
// appends one byte to ROOT/fake_worker.answered, under a lock); an answer
// past the number waits until the test raises it.
void pass_gate() {
  const std::string allow_path = root + "/fake_worker.allow";
  const std::string answered_path = root + "/fake_worker.answered";
  const std::string lock_path = root + "/fake_worker.lock";
  for (;;) {
    std::ifstream allow_file(allow_path);
    long allowed = -1;
    if (!(allow_file >> allowed)) return;  // no gate
    int lock = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0) return;
    flock(lock, LOCK_EX);
    struct stat st {};
    long answered = stat(answered_path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : 0;
    bool pass = answered < allowed;
    if (pass) append_line("fake_worker.answered", "x");
    flock(lock, LOCK_UN);
    close(lock);
    if (pass) return;
    usleep(2000);
  }
}

[[noreturn]] void hang() {
  for (;;) pause();
}

bool read_line(std::string* line) {
  char buffer[2000];
  if (fgets(buffer, sizeof buffer, stdin) == nullptr) return false;
  size_t n = strlen(buffer);
  if (n > 0 && buffer[n - 1] == '\n') buffer[--n] = '\0';
  *line = buffer;
  return true;
}

void serve(int32_t count, const std::string& mode, const std::vector<std::string>& paths) {
  auto script = read_script();
  bool converter = mode != wire::kInternalMode;
  Entry first = paths.empty() ? Entry() : look_up(script, paths.front());

  std::vector<Answer> answers;
  if (converter) {
    for (const auto& path : paths) {
      Entry e = look_up(script, path);
      char code = e.action.size() == 1 ? e.action[0] : wire::kValid;
      answers.push_back({code, wire::kTypeLetterRaw, path, e.message});
    }
  } else if (!paths.empty()) {
    char code = first.action.size() == 1 ? first.action[0] : wire::kValid;
    answers.push_back({code, first.type, paths.front(), first.message});
  }
  (void)count;

  const std::string& action = first.action;
  if (action == "gone-after") close(0);
  if (first.delay_ms > 0) usleep(static_cast<useconds_t>(first.delay_ms) * 1000);

  if (action == "die-before") _exit(3);
  if (action == "hang") hang();
  if (action == "close-output") {
    close(1);
    hang();
  }
  int n = static_cast<int>(answers.size());
  if (action == "not-n") {
    for (const auto& a : answers) put_record(a);
    return;
  }
  if (action == "garbled") {
    put_count(n);
    char junk[wire::kRecordSize];
    memset(junk, 'x', sizeof junk);
    put(junk);
    return;
  }
  if (action == "short") {
    put_count(n);
    char piece[100];
    memset(piece, 'y', sizeof piece);
    if (write(1, piece, sizeof piece) < 0) _exit(1);
    hang();
  }
  pass_gate();
  put_count(action == "zero-n" ? 0 : n);
  if (action == "two-n") put_count(n);
  for (const auto& a : answers) put_record(a);
  if (action == "die-after") _exit(0);
  if (action == "gone-after") {
    close(1);
    usleep(500 * 1000);
    _exit(0);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 64;
  root = argv[1];
  const std::string pid = std::to_string(getpid());
  append_line("fake_worker.starts", pid + "\n");
  for (;;) {
    unsigned char le[4];
    if (fread(le, 1, 4, stdin) != 4) return 0;
    int32_t count = static_cast<int32_t>(le[0] | le[1] << 8 | le[2] << 16 | static_cast<uint32_t>(le[3]) << 24);
    std::string mode;
    if (!read_line(&mode)) return 0;
    std::vector<std::string> paths;
    for (int32_t i = 0; i < count; ++i) {
      std::string path;
      if (!read_line(&path)) return 0;
      paths.push_back(path);
    }
    std::ostringstream line;
    line << pid << '\t' << count << '\t' << mode;
    for (const auto& p : paths) line << '\t' << p;
    line << '\n';
    append_line("fake_worker.transcript", line.str());
    std::string note = "fake_worker " + pid + ": " + std::to_string(count) + " " + mode + " " +
                       (paths.empty() ? std::string() : paths.front()) + "\n";
    ssize_t ignored = write(2, note.data(), note.size());
    (void)ignored;
    serve(count, mode, paths);
  }
}
