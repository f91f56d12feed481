// Writing result records to the worker's standard output.
#pragma once

#include <cstddef>

// Sends one 512-byte record in one write. False (errno set; 0 for a record
// that does not fit or a short write) when it could not be sent.
bool SendResult(const char* message, const char* path, char code, char type);
// Sends the 'N' record that announces count records.
bool SendCount(int count);

// One result record of an answer.
struct ResultText {
  const char* message;  // nullptr: empty
  const char* path;
  char code;
  char type;
};
// Sends a whole answer, the 'N' record for count records and then the
// records, in one write. When a record does not fit, the records before it
// are sent and the answer fails as SendResult does (errno 0).
bool SendAnswer(const ResultText* results, size_t count);

// The descriptor records go to (standard output; tests point it elsewhere).
void set_result_fd(int fd);
