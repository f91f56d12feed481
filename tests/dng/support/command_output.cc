#include "dng/support/command_output.h"

#include <cstdio>

namespace dng_test {

std::string command_output(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return "popen failed";
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  pclose(p);
  return out;
}

}  // namespace dng_test
