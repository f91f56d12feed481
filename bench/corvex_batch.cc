// Sends each file named on the command line to one corvex, one request
// after another, waiting for each answer: corvex_batch CORVEX ROOT FILE...
// Exits 1 when any answer is not 'G'.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/process.h"
#include "util/worker_wire.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: corvex_batch CORVEX ROOT FILE...\n");
    return 2;
  }
  auto in = platform::make_pipe();
  auto out = platform::make_pipe();
  platform::SpawnOptions options;
  options.argv = {argv[1], argv[2]};
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
  int bad = 0;
  char answer[2 * wire::kRecordSize];
  for (int i = 3; i < argc; ++i) {
    std::string request = wire::encode_request(wire::kInternalMode, {argv[i]});
    if (!platform::write_all(in->write_end.get(), request.data(), request.size())) return 1;
    if (platform::read_full(out->read_end.get(), answer, sizeof answer) != static_cast<ssize_t>(sizeof answer)) return 1;
    if (answer[wire::kRecordSize] != wire::kValid) ++bad;
  }
  in->write_end.reset();
  child->wait();
  return bad == 0 ? 0 : 1;
}
