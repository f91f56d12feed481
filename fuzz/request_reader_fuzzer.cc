// Feeds arbitrary bytes to the worker's request reader, one request after
// another until the input ends, as a worker's standard input would.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "util/worker_wire.h"
#include "worker/request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  RequestInput in(std::string(reinterpret_cast<const char*>(data), size));
  Request request;
  for (int i = 0; i < 10000; ++i) {
    RequestRead r = read_request(in, &request);
    if (r == RequestRead::kOk) {
      if (request_list.entries.empty() || static_cast<int32_t>(request_list.entries.size()) != request.count) abort();
    }
    for (const auto& e : request_list.entries) {
      if (e.path.size() > wire::kLineMax) abort();
    }
    if (r == RequestRead::kEndOfInput || r == RequestRead::kTruncated || r == RequestRead::kBadCount) break;
  }
  request_list_clear();
  return 0;
}
