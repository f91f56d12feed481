// Requests whose mode line names an external DNG converter program.
#pragma once

// Checks the paths of request_list with the converter at converter_path and
// sends the whole answer. False when the answer could not be sent.
bool convert_with_external_converter(const char* converter_path);
