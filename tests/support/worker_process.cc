#include "support/worker_process.h"

#include <unistd.h>

#include <stdexcept>

#include "platform/files.h"
#include "support/temp_folder.h"

namespace testing_support {

std::string corvex_path() { return CORVEX_PATH; }

std::string fake_converter_path() { return FAKE_CONVERTER_PATH; }

WorkerProcess::WorkerProcess(std::optional<std::string> root, std::string stderr_path,
                             std::vector<std::string> extra_env, std::string program)
    : stderr_path_(std::move(stderr_path)) {
  auto in = platform::make_pipe();
  auto out = platform::make_pipe();
  if (!in || !out) throw std::runtime_error("pipe failed");
  platform::Fd err = platform::open_capture_file(stderr_path_);
  if (!err.valid()) throw std::runtime_error("cannot create " + stderr_path_);

  platform::SpawnOptions options;
  options.argv.push_back(std::move(program));
  if (root) options.argv.push_back(*root);
  options.stdin_fd = in->read_end.get();
  options.stdout_fd = out->write_end.get();
  options.stderr_fd = err.get();
  options.extra_env = std::move(extra_env);
  std::string error;
  auto child = platform::spawn_process(options, &error);
  if (!child) throw std::runtime_error(error);
  child_ = std::move(*child);
  to_worker_ = std::move(in->write_end);
  from_worker_ = std::move(out->read_end);
}

WorkerProcess::~WorkerProcess() {
  to_worker_.reset();
  from_worker_.reset();
  if (!child_.wait_for(Ms(2000))) child_.kill_and_wait();
}

bool WorkerProcess::send_bytes(std::string_view bytes) {
  return to_worker_.valid() && platform::write_all(to_worker_.get(), bytes.data(), bytes.size());
}

bool WorkerProcess::send_request(std::string_view mode, const std::vector<std::string>& paths) {
  return send_bytes(wire::encode_request(mode, paths));
}

void WorkerProcess::close_input() { to_worker_.reset(); }

void WorkerProcess::close_output() { from_worker_.reset(); }

std::optional<wire::Record> WorkerProcess::read_record(Ms timeout) {
  if (!from_worker_.valid()) return std::nullopt;
  char bytes[wire::kRecordSize];
  size_t got = 0;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (got < sizeof bytes) {
    auto left = std::chrono::duration_cast<Ms>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !platform::wait_readable(from_worker_.get(), left)) return std::nullopt;
    ssize_t n = platform::read_some(from_worker_.get(), bytes + got, sizeof bytes - got);
    if (n <= 0) return std::nullopt;
    got += static_cast<size_t>(n);
  }
  return wire::decode_record(bytes, sizeof bytes);
}

std::optional<std::vector<wire::Record>> WorkerProcess::read_answer(Ms timeout) {
  auto header = read_record(timeout);
  if (!header || header->code != wire::kCount) return std::nullopt;
  std::vector<wire::Record> records;
  for (int i = 0; i < header->type; ++i) {
    auto record = read_record(timeout);
    if (!record) return std::nullopt;
    records.push_back(std::move(*record));
  }
  return records;
}

bool WorkerProcess::output_ends(Ms timeout) {
  if (!from_worker_.valid()) return true;
  if (!platform::wait_readable(from_worker_.get(), timeout)) return false;
  char byte;
  return platform::read_some(from_worker_.get(), &byte, 1) == 0;
}

std::optional<int> WorkerProcess::wait_exit(Ms timeout) {
  if (!child_.wait_for(timeout)) return std::nullopt;
  return child_.exit_code();
}

std::string WorkerProcess::stderr_text() const { return read_file(stderr_path_); }

}  // namespace testing_support
