// The worker program: start-up and the loop that answers one request after
// another until the input ends or an answer cannot be sent.
#pragma once

#include <optional>
#include <string>

// The extension of a request path: the text after its last ".", or nothing
// when there is no dot or the last dot lies in a folder name. A path ending
// in "." has the empty extension, which is not the same as none.
std::optional<std::string> request_path_extension(const std::string& path);

// Answers one "internal" request for path.
void check_internal(const char* path);

// Serves requests read from the descriptor fd until the input ends; never
// returns.
[[noreturn]] void request_loop(int fd);

// The whole program; never returns.
[[noreturn]] void worker_main(int argc, char** argv);
