// What the Manage Hashes window shows and does, without widgets: the tree
// of folders that hold reference digests (a root item "/" and one item per
// path element), the keys stored for one folder, and the purge of a folder
// with its sub-folders.
//
// Used on the window's thread. Message boxes are shown with no database
// lock held; the purge holds the lock across its whole transaction.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "frontend/core/database.h"
#include "frontend/core/reporters.h"

namespace frontend {

// Texts of the window.
inline constexpr const char* kRetrievingFolders = "Retrieving folders...";
inline constexpr const char* kFoldersCaption = "Folders in Database (may not correspond to folders on drives)";
inline constexpr const char* kKeysCaption =
    "Filename - Size - File Modification Time - EXIF Digitized Time - EXIF Original Time";
inline constexpr const char* kPurgeCaption =
    "Purges only hashes from this folder and its subfolders. Will not affect images.";
inline constexpr const char* kNoHashesAtThisLevel = "[No hashes at this level]";
inline constexpr const char* kPurgeQuestion =
    "Purge image keys for selected folder (and subfolders) from Corvella database?\r\r"
    "(Will not affect images themselves.)";
inline constexpr const char* kFoldersNotFound = "Folder(s) not found in database.";
inline constexpr const char* kCantLoadFolders = "Out of memory - can't load folders.";

// The item of the root folder.
inline constexpr const char* kRootItem = "/";

// One item of the folder tree; owns its children, which keep their
// addresses while items are added.
struct FolderItem {
  std::string text;
  FolderItem* parent = nullptr;  // nullptr for a top-level item
  std::vector<std::unique_ptr<FolderItem>> children;  // in the order added
};

// The folder tree. Its top-level items are "/" (every absolute path) and,
// for a stored path that does not begin with "/", an item holding that
// whole path.
class FolderTree {
 public:
  const std::vector<std::unique_ptr<FolderItem>>& top_level() const { return top_; }
  void clear() { top_.clear(); }

  // Adds the items of one stored folder: "/" and then one item per path
  // element (empty elements skipped), reusing the items already there.
  bool AddFolderPath(const std::string& path);

  // The first child of parent (nullptr: the top level) whose text equals
  // text exactly, or nullptr.
  FolderItem* FindChildItem(FolderItem* parent, const std::string& text);

  // The folder an item stands for: its text and its ancestors' joined by
  // "/" below the root item ("/", "/a", "/a/b").
  static std::string GetItemPath(const FolderItem* item);

  // Removes an item with all its sub-items (after its folder was purged).
  void RemoveItem(FolderItem* item);

 private:
  std::vector<std::unique_ptr<FolderItem>>& children_of(FolderItem* parent) {
    return parent != nullptr ? parent->children : top_;
  }

  std::vector<std::unique_ptr<FolderItem>> top_;
};

// How a purge ended.
enum class PurgeOutcome {
  kNothingSelected,  // no folder: nothing asked, nothing changed
  kCancelled,        // the user said Cancel
  kFailed,           // a failure was shown; the database is unchanged
  kPurged,           // committed; the view removes the selected item
};

// The Manage Hashes window's model.
class ManageHashesModel {
 public:
  ManageHashesModel(Database& db, MessageBoxes& boxes) : db_(db), boxes_(boxes) {}

  // Rebuilds the tree from every stored folder. False when the query
  // failed ("Can't list folders. (<message>)" was shown); the tree is then
  // empty.
  bool LoadFolders();
  const FolderTree& tree() const { return tree_; }
  FolderTree& tree() { return tree_; }

  // The key list's lines for a folder: each key stored directly in it with
  // every "/" shown as " - ", or "" and "[No hashes at this level]" when it
  // has none. Empty for an empty folder and when the query failed ("Can't
  // list keys. (<message>)" was shown).
  std::vector<std::string> LoadKeys(const std::string& folder);

  // Deletes the digests of folder and of every folder below it, in one
  // transaction; "/" means every absolute folder. confirm is asked
  // kPurgeQuestion and answers true for OK. Folders are matched exactly and
  // with case: "/a" takes "/a" and "/a/..." but not "/ab" or "/A".
  PurgeOutcome OnBnClickedPurge(const std::string& folder,
                                const std::function<bool(const std::string&)>& confirm);

 private:
  Database& db_;
  MessageBoxes& boxes_;
  FolderTree tree_;
};

}  // namespace frontend
