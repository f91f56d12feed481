#include "worker/converter.h"

#include "util/worker_wire.h"
#include "worker/request.h"
#include "worker/send_result.h"

// This worker has no converter runner yet: every file of a converter request
// is answered as an error, so that no file passes unchecked.
bool convert_with_external_converter(const char*) {
  if (!SendCount(static_cast<int>(request_list.entries.size()))) return false;
  for (const auto& entry : request_list.entries) {
    if (!SendResult("DNG converter runs not available", entry.path.c_str(), wire::kError, wire::kTypeLetterRaw))
      return false;
  }
  return true;
}
