// Writing result records to the worker's standard output.
#pragma once

// Sends one 512-byte record in one write. False (errno set; 0 for a record
// that does not fit or a short write) when it could not be sent.
bool SendResult(const char* message, const char* path, char code, char type);
// Sends the 'N' record that announces count records.
bool SendCount(int count);

// The descriptor records go to (standard output; tests point it elsewhere).
void set_result_fd(int fd);
