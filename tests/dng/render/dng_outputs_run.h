// Runs the dng_outputs program as a real child process, for the process
// tests of the output steps. Header only.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/child_process.h"

namespace testing_support {

// Where one run of dng_outputs sends its output, and where it runs.
struct DngOutputsStreams {
  std::string out_path;                // its standard output
  std::string err_path = "/dev/null";  // its standard error
  std::string folder;                  // its working folder; empty: the test's own
  rlim_t file_size_limit = 0;          // > 0 caps the size of every file it writes
};

// Runs dng_outputs with args and gives its exit status, -1 when it did not
// end normally. A child that could not set up its streams or start the
// program fails the test.
inline int run_dng_outputs(const std::vector<std::string>& args, const DngOutputsStreams& streams) {
  auto body = [&]() -> int {
    const int o = open(streams.out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = open(streams.err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (o < 0 || e < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0) return 126;
    if (!streams.folder.empty() && chdir(streams.folder.c_str()) != 0) return 126;
    std::vector<std::string> all = {DNG_OUTPUTS_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    return 127;
  };
  const int status =
      streams.file_size_limit > 0 ? run_with_file_size_limit(streams.file_size_limit, body) : run_in_child(body);
  EXPECT_NE(status, 126) << "dng_outputs: could not set up its output or working folder";
  EXPECT_NE(status, 127) << "dng_outputs: could not be started";
  return status;
}

}  // namespace testing_support
