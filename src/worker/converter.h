// Requests whose mode line names an external DNG converter program.
//
// A camera raw file passes when the converter, asked to convert it into a
// private temporary folder, does not name it on its standard error. The
// converter runs with its standard input and output on /dev/null (they are
// the worker's request and result channels), its standard error on a pipe
// that is drained while it runs, and a time limit per run.
#pragma once

#include <chrono>
#include <string>
#include <vector>

// The most files handed to one converter run.
inline constexpr size_t kConverterBatchSize = 50;
// How much of a run's standard error is kept and searched for the paths of
// the run's files: far more than any converter writes for 50 files, small
// enough that a runaway converter cannot exhaust memory. What comes later
// is drained and dropped.
inline constexpr size_t kConverterErrorKept = 4 * 1024 * 1024;
inline constexpr size_t kConverterErrorSearched = kConverterErrorKept;
// Time limit of one run: a base plus an allowance per file. The environment
// variable CORVEX_CONVERTER_TIME_LIMIT (whole seconds per run) overrides it.
inline constexpr std::chrono::seconds kConverterBaseTime{60};
inline constexpr std::chrono::seconds kConverterTimePerFile{30};
// After the converter has ended, how long a process it left behind may keep
// its standard error open before the worker stops reading.
inline constexpr std::chrono::milliseconds kConverterDrainGrace{2000};

// The temporary output folder of the current request ("QXtemp" + 6 letters,
// under $TMP, else $TMPDIR, else /tmp); empty between requests.
extern std::string converter_temp_dir;

// Checks the paths of request_list with the converter at converter_path and
// sends the whole answer: 'N' with the count, then per file, in request
// order, 'G' (valid), 'B' (named by the converter) or 'E' (the converter
// failed without naming it; the message says how), type 'R'. Fatal errors
// ("can't make directory", "can't execute DNG Converter", "can't open
// directory", "can't find arg in entries", "out of memory") are answered
// with 'N' (1) and one 'E' record for "[no path]", and end the process with
// status 1. False when the answer could not be sent.
bool convert_with_external_converter(const char* converter_path);

// Whether a converter's error text names path: an occurrence of it that
// stands whole, not followed by more path characters ("/x/a.cr2" is not
// named by "/x/a.cr2.nef: bad file", but is by "/x/a.cr2: bad file" and by
// "Cannot read /x/a.cr2.").
bool converter_text_names(const std::string& text, const std::string& path);

// One converter run.
struct ConverterRun {
  bool ok = false;         // the converter ran and exited with status 0
  std::string error_text;  // the start of its standard error (kConverterErrorKept bytes at most)
  std::string failure;     // when not ok: what went wrong, as answered to the run's files
};

// Runs the converter once with the argument vector args (args[0] is the
// program) and waits for it, at most time_limit; a converter still running
// then is killed with everything it started.
ConverterRun execute_converter(const std::string& converter_path, const std::vector<std::string>& args,
                               std::chrono::milliseconds time_limit);

// What one pass decided about one file.
struct ConverterVerdict {
  enum Kind { kPending, kValid, kInvalid, kError } kind = kPending;
  std::string message;  // for kError: the run's failure
};

// Runs the converter over files ("-p0", "-d", folder, files...) in batches
// of kConverterBatchSize and gives a verdict per file, in order. A batch
// whose error text names one of its files settles the files of that run
// before the first one named (valid when the run succeeded, otherwise left
// pending to be run again) and that file (invalid); the rest stay pending
// and no further batch is started. A batch that names none of its files is
// valid throughout when the run succeeded, and an error throughout when it
// did not. At least one file is settled by every call with files.
std::vector<ConverterVerdict> run_converter_batches(const std::string& converter_path, const std::string& folder,
                                                    const std::vector<std::string>& files);
