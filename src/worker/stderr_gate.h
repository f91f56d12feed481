// The worker's standard error, bounded for each request. A hostile file can
// make the DNG parsers warn millions of times, and the front end copies
// every line the workers write into its log. A request may write
// kMaxRequestLines lines or kMaxRequestBytes bytes, whichever ends first;
// further lines are counted, and the end of the request writes one line
// saying how many were left out. What a sound file writes is far below
// either bound and passes unchanged.
//
// Every writer of the worker's standard error passes through here: the
// stdio stream `stderr` is replaced by one that writes through
// stderr_gate_write (stderr_gate_install), and stderr_puts writes through
// it too. The sanitizers' own reports go straight to the descriptor.
// Single-threaded, as the worker is.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr uint64_t kMaxRequestLines = 1000;
inline constexpr uint64_t kMaxRequestBytes = 64 * 1024;

// Points `stderr` at a stream that writes through stderr_gate_write. When
// the stream cannot be made, `stderr` stays as it was.
void stderr_gate_install();

// Writes bytes to standard error: within the bounds of the request in
// progress, or unbounded outside a request.
void stderr_gate_write(const char* data, size_t size);

// Starts a request: nothing written so far.
void stderr_gate_begin_request();

// Ends a request: when lines were left out, writes (on a line of its own)
// "... N further lines left out\n". What comes until the next request
// passes unbounded.
void stderr_gate_end_request();
