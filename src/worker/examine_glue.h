// What the worker's identification and PSD reader need from the structure
// examiners.
#pragma once

#include <cstdio>
#include <string>

// Runs the silent structure examiner over a file that starts with a TIFF
// signature (the open file stays the caller's). true when its first
// directory could be read; *is_dng then tells whether that directory holds
// DNGVersion (tag 50706).
bool examine_tiff_signature_file(FILE* in, const char* path, bool* is_dng);

// Runs the PSD structure checker silently. true for a sound file; *message
// receives the checker's error text (empty when the file passed).
bool check_psd_file(const char* path, std::string* message);
