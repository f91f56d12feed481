// Runs a shell command and returns what it printed on standard output
// (redirect standard error in the command to see it too): the way the DNG
// tests ask independent readers what they make of a written file.
#pragma once

#include <string>

namespace dng_test {

// "popen failed" when the shell could not be started.
std::string command_output(const std::string& command);

}  // namespace dng_test
