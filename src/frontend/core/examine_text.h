// The text of an Image Examination window: the structure dump of one image
// file, from the structure examiner's full printing walk or, for a ".psd"
// file, from the PSD checker's dump.
//
// Any thread; examinations are serialised with examiner_mutex(), which the
// run thread's hash keys take too. An examination never ends the program:
// a file that cannot be read or understood gives an error line and a note.
#pragma once

#include <string>

namespace frontend {

inline constexpr const char* kExamineCaption = "Image Examination";
inline constexpr const char* kExamineNotVerified = "\n[This examination did not verify actual image data.]\n";
// "\nERROR: %s\n" with the examiner's message, then this note.
inline constexpr const char* kExamineErrorFormat = "\nERROR: %s\n";
inline constexpr const char* kExamineMayBeOk =
    "\n(The file may be OK, but in a format that Corvella is unable to interpret.)\n";

// The longest piece one print call adds; longer output is cut.
inline constexpr size_t kExaminePrintMax = 10000 - 1;

// True when the path's last element ends in ".psd", in any case.
bool is_psd_path(const std::string& path);

// The dump as the examiners print it, with "\n" line ends.
std::string examine_dump(const std::string& path);

// A carriage return put before every line feed, as the window's edit
// control holds its text.
std::string examine_window_text(const std::string& dump);

// The whole text the window for path shows: examine_window_text of
// examine_dump.
std::string ExamineFile(const std::string& path);

}  // namespace frontend
