#include "frontend/core/job_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "platform/files.h"
#include "util/proper.h"
#include "util/trace.h"

namespace frontend {

namespace {

// Why the file could not be read: the system's reason when it cannot be
// opened, otherwise its contents are at fault.
std::string unreadable_reason(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return platform::errno_text(errno);
  close(fd);
  return "its contents are damaged";
}

std::string kept_name(const std::string& path) {
  std::string folder = path.substr(0, path.rfind('/') + 1);
  std::string name = path.substr(path.rfind('/') + 1);
  time_t now = time(nullptr);
  struct tm local;
  char stamp[32] = "00000000-000000";
  if (localtime_r(&now, &local) != nullptr) strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  std::string kept = folder + "." + name + ".unreadable-" + stamp;
  // Never over an earlier one kept the same second.
  std::string candidate = kept;
  struct stat st;
  for (int n = 2; lstat(candidate.c_str(), &st) == 0; ++n) candidate = kept + "-" + std::to_string(n);
  return candidate;
}

}  // namespace

bool keepUnreadableJob(const std::string& name, RunLogSink& log) {
  char* set_path = get_set_path(kPropCategory, name.c_str());
  if (set_path == nullptr) return true;  // not a name a file can have
  std::string path = set_path;
  free(set_path);
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return true;  // missing: nothing to lose

  std::string reason = unreadable_reason(path);
  std::string kept = kept_name(path);
  if (rename(path.c_str(), kept.c_str()) != 0) {
    std::string why = platform::errno_text(errno);
    log_printf("Can't read Job %s (%s) and can't keep it aside as %s: %s", name.c_str(), reason.c_str(), kept.c_str(),
               why.c_str());
    log.appendRunLogNotice(("\nERROR: Can't read Job: " + name + " (" + reason + ")\n\tIts file " + path +
                            " can't be kept aside (" + why + "); the job's settings will not be saved over it.\n")
                               .c_str());
    return false;
  }
  log_printf("Can't read Job %s (%s); kept as %s", name.c_str(), reason.c_str(), kept.c_str());
  log.appendRunLogNotice(
      ("\nERROR: Can't read Job: " + name + " (" + reason + ")\n\tIts file is kept as " + kept + "\n").c_str());
  return true;
}

}  // namespace frontend
