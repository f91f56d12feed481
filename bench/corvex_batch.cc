// Sends each file named on the command line to one corvex, one request
// after another, waiting for each answer:
//   corvex_batch [--answers] CORVEX ROOT FILE...
// Exits 1 when any answer is not 'G'. With --answers it prints every record
// of every answer, one line each ("code type path<TAB>message"), and exits
// 0 whatever the verdicts: two builds of corvex can then be compared file
// by file with diff.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/process.h"
#include "util/worker_wire.h"

namespace {

bool read_record(int fd, char* record) {
  return platform::read_full(fd, record, wire::kRecordSize) == static_cast<ssize_t>(wire::kRecordSize);
}

void print_record(const char* bytes) {
  auto record = wire::decode_record(bytes, wire::kRecordSize);
  if (!record) {
    printf("garbled record\n");
    return;
  }
  if (record->code == wire::kCount) {
    printf("N %d\n", record->type);
  } else {
    printf("%c %c %s\t%s\n", record->code, record->type, record->path.c_str(), record->message.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  int arg = 1;
  const bool answers = argc > 1 && strcmp(argv[1], "--answers") == 0;
  if (answers) ++arg;
  if (argc - arg < 2) {
    fprintf(stderr, "usage: corvex_batch [--answers] CORVEX ROOT FILE...\n");
    return 2;
  }
  auto in = platform::make_pipe();
  auto out = platform::make_pipe();
  platform::SpawnOptions options;
  options.argv = {argv[arg], argv[arg + 1]};
  options.stdin_fd = in->read_end.get();
  options.stdout_fd = out->write_end.get();
  options.stderr_fd = 2;
  std::string error;
  auto child = platform::spawn_process(options, &error);
  if (!child) {
    fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  in->read_end.reset();
  out->write_end.reset();
  const int from = out->read_end.get();
  int bad = 0;
  char record[wire::kRecordSize];
  for (int i = arg + 2; i < argc; ++i) {
    std::string request = wire::encode_request(wire::kInternalMode, {argv[i]});
    if (!platform::write_all(in->write_end.get(), request.data(), request.size())) return 1;
    // The 'N' record, then as many result records as it announces.
    if (!read_record(from, record)) return 1;
    const int count = static_cast<unsigned char>(record[1]);
    if (answers) print_record(record);
    for (int k = 0; k < count; ++k) {
      if (!read_record(from, record)) return 1;
      if (answers) print_record(record);
      if (k == 0 && record[0] != wire::kValid) ++bad;
    }
  }
  in->write_end.reset();
  child->wait();
  return answers || bad == 0 ? 0 : 1;
}
