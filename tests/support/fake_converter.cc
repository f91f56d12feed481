// A stand-in for the external DNG converter, for the worker's tests.
//
// Usage as the worker runs it: fake_converter -p0 -d FOLDER FILE...
// It "converts" each file by writing FOLDER/<base name>.dng, and behaves as
// these environment variables say (all optional):
//
//   FAKE_CONVERTER_LOG=path        appends one line per run: its pid, the
//                                  number of entries already in FOLDER, then
//                                  the files, separated by tabs
//   FAKE_CONVERTER_NAME=text       names every file whose path contains text
//                                  on standard error (and converts it not)
//   FAKE_CONVERTER_STDERR_BEFORE=n writes n filler bytes to standard error
//                                  before the names
//   FAKE_CONVERTER_STDERR_AFTER=n  the same after the names
//   FAKE_CONVERTER_STDOUT=n        writes n bytes to standard output
//   FAKE_CONVERTER_READ_STDIN=1    reads standard input to its end first
//   FAKE_CONVERTER_SUBFOLDER=1     also leaves a sub-folder with a file
//   FAKE_CONVERTER_REMOVE_FOLDER=1 converts nothing and removes FOLDER
//   FAKE_CONVERTER_ORPHAN=s        starts a child that keeps standard error
//                                  open for s seconds, and does not wait
//   FAKE_CONVERTER_SLEEP=s         sleeps s seconds before ending
//   FAKE_CONVERTER_CRASH=1         ends with abort()
//   FAKE_CONVERTER_EXIT=n          ends with exit status n
//
// Arguments other than "-p0 -d FOLDER FILE..." end it with status 64.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

long number(const char* name) {
  const char* value = getenv(name);
  return value != nullptr ? strtol(value, nullptr, 10) : 0;
}

void write_bytes(int fd, char fill, long count) {
  std::string block(4096, fill);
  block.back() = '\n';
  while (count > 0) {
    size_t n = static_cast<size_t>(count < 4096 ? count : 4096);
    ssize_t written = write(fd, block.data(), n);
    if (written <= 0) return;
    count -= written;
  }
}

int entries_in(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return -1;
  int count = 0;
  while (struct dirent* d = readdir(dir)) {
    if (strcmp(d->d_name, ".") != 0 && strcmp(d->d_name, "..") != 0) ++count;
  }
  closedir(dir);
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || strcmp(argv[1], "-p0") != 0 || strcmp(argv[2], "-d") != 0) {
    fprintf(stderr, "usage: %s -p0 -d FOLDER FILE...\n", argv[0]);
    return 64;
  }
  std::string folder = argv[3];
  std::vector<std::string> files(argv + 4, argv + argc);

  if (const char* log = getenv("FAKE_CONVERTER_LOG")) {
    std::string line = std::to_string(getpid()) + "\t" + std::to_string(entries_in(folder));
    for (const auto& f : files) line += "\t" + f;
    line += "\n";
    if (FILE* out = fopen(log, "a")) {
      fputs(line.c_str(), out);
      fclose(out);
    }
  }

  if (number("FAKE_CONVERTER_READ_STDIN") != 0) {
    char buffer[4096];
    while (read(0, buffer, sizeof buffer) > 0) {
    }
  }
  write_bytes(1, 'o', number("FAKE_CONVERTER_STDOUT"));
  write_bytes(2, 'e', number("FAKE_CONVERTER_STDERR_BEFORE"));

  if (number("FAKE_CONVERTER_REMOVE_FOLDER") != 0) return rmdir(folder.c_str()) == 0 ? 0 : 71;

  const char* name = getenv("FAKE_CONVERTER_NAME");
  for (const auto& f : files) {
    if (name != nullptr && *name != '\0' && f.find(name) != std::string::npos) {
      std::string text = "cannot convert \"" + f + "\"\n";
      if (write(2, text.data(), text.size()) < 0) return 70;
      continue;
    }
    std::string base = f.substr(f.rfind('/') + 1);
    if (FILE* out = fopen((folder + "/" + base + ".dng").c_str(), "w")) {
      fputs("converted\n", out);
      fclose(out);
    }
  }
  if (number("FAKE_CONVERTER_SUBFOLDER") != 0) {
    std::string sub = folder + "/cache";
    mkdir(sub.c_str(), 0777);
    if (FILE* out = fopen((sub + "/work.tmp").c_str(), "w")) fclose(out);
  }
  write_bytes(2, 'e', number("FAKE_CONVERTER_STDERR_AFTER"));

  if (long seconds = number("FAKE_CONVERTER_ORPHAN"); seconds > 0) {
    if (fork() == 0) {
      sleep(static_cast<unsigned>(seconds));
      _exit(0);
    }
  }
  if (long seconds = number("FAKE_CONVERTER_SLEEP"); seconds > 0) sleep(static_cast<unsigned>(seconds));
  if (number("FAKE_CONVERTER_CRASH") != 0) {
    struct rlimit no_core = {0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    abort();
  }
  return static_cast<int>(number("FAKE_CONVERTER_EXIT"));
}
