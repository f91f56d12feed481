// Files and folders: the small POSIX layer both programs use in place of the
// Windows find-file, status, folder and temporary-name calls.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>
#include <vector>

namespace platform {

// The runtime library's message for an errno value; never empty.
std::string errno_text(int err);

// Names of the entries directly inside a folder, without "." and "..",
// sorted by byte value so that every listing of a folder is the same.
// Gives nothing and sets errno when the folder cannot be read.
std::optional<std::vector<std::string>> list_folder(const std::string& folder);

// Status of a path (following symbolic links, or not); errno on failure.
bool file_status(const std::string& path, struct stat* st);
bool link_status(const std::string& path, struct stat* st);
bool is_folder(const std::string& path);
bool exists(const std::string& path);

// Creates one folder level (mode 0777 before the umask). A folder that is
// already there counts as made; anything else in the way does not.
bool make_folder(const std::string& path);
// Creates the folder and every missing parent.
bool make_folders(const std::string& path);
bool remove_folder(const std::string& path);
bool remove_file(const std::string& path);

// Writes a file's data to disk (fsync), then renames it over the target in
// one step, then syncs the folder so that the new name is durable. A crash
// leaves either the old file or the new one, never neither.
bool replace_file(const std::string& temp_path, const std::string& target_path);
// fsync of the folder that holds a path.
bool sync_parent_folder(const std::string& path);

// The folder for temporary files: $TMP, then $TMPDIR, then /tmp.
std::string temp_folder();
// A new private folder "<temp folder>/<prefix>XXXXXX"; nothing on failure.
std::optional<std::string> make_temp_folder(const std::string& prefix);
// Removes a folder and everything below it (best effort, no links followed).
bool remove_tree(const std::string& path);

// The user's application-data folder: $XDG_DATA_HOME, else
// $HOME/.local/share; created with its parents when missing.
std::optional<std::string> app_data_folder();

// Joins a folder and a name with exactly one "/" between them.
std::string join_path(const std::string& folder, const std::string& name);

// The folder that holds the running executable (from /proc/self/exe).
std::optional<std::string> executable_folder();

}  // namespace platform
