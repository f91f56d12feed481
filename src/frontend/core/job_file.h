// Job files that exist but cannot be read: they are never written over.
#pragma once

#include <string>

#include "frontend/core/run_log.h"

namespace frontend {

// Called when the job's set could not be opened. When its file exists, it is
// renamed in its folder to ".<job>.unreadable-<YYYYmmdd-HHMMSS>" (a name the
// job list never shows and a save never uses) and the run log says where it
// went and why it could not be read. True when no file is left under the
// job's name, so a set saved under it loses nothing; false when the file
// could not be moved (the run log says so too) and must not be saved over.
bool keepUnreadableJob(const std::string& name, RunLogSink& log);

}  // namespace frontend
