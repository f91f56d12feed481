// The bound on what one request writes to standard error: lines and bytes
// of a request, the closing line that counts what was left out, the fresh
// start of the next request, and the stdio stream that passes through it.
#include "worker/stderr_gate.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "dng/support/stderr_capture.h"

namespace {

std::string numbered_lines(int from, int to) {
  std::string text;
  for (int i = from; i <= to; ++i) text += "warning line " + std::to_string(i) + "\n";
  return text;
}

void write_text(const std::string& text) { stderr_gate_write(text.data(), text.size()); }

// Writes text in pieces of the given size, so lines arrive split.
void write_in_pieces(const std::string& text, size_t piece) {
  for (size_t at = 0; at < text.size(); at += piece) {
    const std::string part = text.substr(at, piece);
    stderr_gate_write(part.data(), part.size());
  }
}

// What one request writes, and what its end adds.
std::string request_output(const std::function<void()>& body) {
  dng_test::StderrCapture err;
  stderr_gate_begin_request();
  body();
  stderr_gate_end_request();
  return err.Take();
}

TEST(StderrGate, WhatASoundFileWritesPassesUnchanged) {
  const std::string transcript =
      "Validating \"/photos/a.tif\"...\n*** Warning: The ExposureTime is <= 0 ***\n"
      "Raw image read time: 0.01 sec\nLinearization time: 0.00 sec\nInterpolate time: 0.02 sec\n"
      "Validation complete\n";
  EXPECT_EQ(request_output([&] { write_in_pieces(transcript, 7); }), transcript);
  // A last line without its end is passed as it is.
  EXPECT_EQ(request_output([] { write_text("no line end"); }), "no line end");
}

TEST(StderrGate, LinesBeyondTheBoundsAreCountedOnOneClosingLine) {
  struct Case {
    const char* label;
    std::string written;
    size_t piece;
    std::string expected;
  } cases[] = {
      {"one line short of the bound", numbered_lines(1, 1000), 13, numbered_lines(1, 1000)},
      {"lines beyond the bound, written in pieces", numbered_lines(1, 1500), 13,
       numbered_lines(1, 1000) + "... 500 further lines left out\n"},
      {"lines beyond the bound, written at once", numbered_lines(1, 1500), 1500 * 30,
       numbered_lines(1, 1000) + "... 500 further lines left out\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(request_output([&] { write_in_pieces(c.written, c.piece); }), c.expected) << c.label;
  }
}

TEST(StderrGate, BytesBeyondTheBoundCutTheLineThatReachesIt) {
  // 100 lines of 1000 bytes: 65 pass whole (65,065 bytes), the 66th is cut
  // at 65,536 bytes and counts with the 34 after it.
  const std::string line = std::string(999, 'x') + "\n";
  std::string written;
  for (int i = 0; i < 100; ++i) written += line;
  const std::string out = request_output([&] { write_in_pieces(written, 4096); });
  EXPECT_EQ(out, written.substr(0, kMaxRequestBytes) + "\n... 35 further lines left out\n");
}

TEST(StderrGate, EachRequestStartsAfreshAndNothingOutsideOneIsBounded) {
  const std::string flood = request_output([] { write_text(numbered_lines(1, 2000)); });
  EXPECT_NE(flood.find("... 1000 further lines left out\n"), std::string::npos);
  const std::string next = request_output([] { write_text(numbered_lines(1, 3)); });
  EXPECT_EQ(next, numbered_lines(1, 3));
  // Outside a request nothing is bounded.
  dng_test::StderrCapture err;
  write_text(numbered_lines(1, 1500));
  EXPECT_EQ(err.Take(), numbered_lines(1, 1500));
}

TEST(StderrGate, TheStdioStreamPassesThroughTheGate) {
  FILE* const plain = stderr;
  stderr_gate_install();
  ASSERT_NE(stderr, plain);
  const std::string out = request_output([] {
    for (int i = 1; i <= 1200; ++i) std::fprintf(stderr, "*** Warning: %s %d ***\n", "entry", i);
  });
  FILE* const gated = stderr;
  stderr = plain;
  std::fclose(gated);
  std::string expected;
  for (int i = 1; i <= 1000; ++i) expected += "*** Warning: entry " + std::to_string(i) + " ***\n";
  EXPECT_EQ(out, expected + "... 200 further lines left out\n");
}

}  // namespace
