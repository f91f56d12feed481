// The benchmarks' input files: size bytes of xorshift noise (which neither
// compresses nor hashes in any special way), written under $TMPDIR (else
// /tmp) as name. Ends the program when the file cannot be written.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

inline std::string write_noise_file(const char* name, size_t size) {
  const char* tmp = std::getenv("TMPDIR");
  std::string path = std::string(tmp != nullptr ? tmp : "/tmp") + "/" + name;
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) {
    std::perror(path.c_str());
    std::exit(1);
  }
  std::vector<unsigned char> chunk(1 << 20);
  uint64_t x = 88172645463325252ULL;
  for (size_t done = 0; done < size; done += chunk.size()) {
    for (auto& b : chunk) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      b = static_cast<unsigned char>(x);
    }
    std::fwrite(chunk.data(), 1, chunk.size(), out);
  }
  std::fclose(out);
  return path;
}
