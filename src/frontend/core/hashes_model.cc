// The Manage Hashes window's folder tree, key list and purge.
#include "frontend/core/hashes_model.h"

#include <algorithm>
#include <cstdlib>

#include "frontend/core/hash_key.h"

namespace frontend {

bool FolderTree::AddFolderPath(const std::string& path) {
  // A path that does not begin at the root is one item of its own.
  if (path.empty() || path[0] != '/') {
    if (FindChildItem(nullptr, path) == nullptr) {
      auto item = std::make_unique<FolderItem>();
      item->text = path;
      top_.push_back(std::move(item));
    }
    return true;
  }
  FolderItem* current = FindChildItem(nullptr, kRootItem);
  if (current == nullptr) {
    auto root = std::make_unique<FolderItem>(FolderItem{kRootItem, nullptr, {}});
    current = root.get();
    top_.push_back(std::move(root));
  }
  size_t start = 1;
  while (start < path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) {
      std::string element = path.substr(start, end - start);
      FolderItem* child = FindChildItem(current, element);
      if (child == nullptr) {
        auto item = std::make_unique<FolderItem>();
        item->text = element;
        item->parent = current;
        child = item.get();
        current->children.push_back(std::move(item));
      }
      current = child;
    }
    start = end + 1;
  }
  return true;
}

FolderItem* FolderTree::FindChildItem(FolderItem* parent, const std::string& text) {
  for (const auto& child : children_of(parent))
    if (child->text == text) return child.get();
  return nullptr;
}

std::string FolderTree::GetItemPath(const FolderItem* item) {
  if (item == nullptr) return std::string();
  std::string path;
  const FolderItem* top = item;
  for (const FolderItem* at = item; at != nullptr; at = at->parent) {
    top = at;
    if (at->parent == nullptr && at->text == kRootItem) break;
    path = path.empty() ? at->text : at->text + "/" + path;
  }
  if (top->text == kRootItem) return std::string(kRootItem) + path;
  return path;
}

void FolderTree::RemoveItem(FolderItem* item) {
  if (item == nullptr) return;
  auto& siblings = children_of(item->parent);
  siblings.erase(std::remove_if(siblings.begin(), siblings.end(),
                                [item](const std::unique_ptr<FolderItem>& s) { return s.get() == item; }),
                 siblings.end());
}

bool ManageHashesModel::LoadFolders() {
  tree_.clear();
  std::vector<DbRow> rows;
  std::string message;
  if (!db_query_rows_quiet(db_, "select path from hash_path order by path", &rows, &message)) {
    boxes_.showMessage("Can't list folders. (" + message + ")");
    return false;
  }
  for (const DbRow& row : rows) {
    if (!tree_.AddFolderPath(row.empty() || !row[0] ? std::string() : *row[0])) {
      boxes_.showMessage(kCantLoadFolders);
      break;
    }
  }
  return true;
}

std::vector<std::string> ManageHashesModel::LoadKeys(const std::string& folder) {
  std::vector<std::string> lines;
  if (folder.empty()) return lines;
  std::vector<DbRow> rows;
  std::string message;
  if (!db_query_rows_quiet(db_,
                           db_format("select key from hash_key join hash_path on hash_path_id = "
                                     "hash_path.rowid where path = %Q order by key",
                                     folder.c_str()),
                           &rows, &message)) {
    boxes_.showMessage("Can't list keys. (" + message + ")");
    return lines;
  }
  if (rows.empty()) {
    lines.emplace_back();
    lines.emplace_back(kNoHashesAtThisLevel);
    return lines;
  }
  for (const DbRow& row : rows) lines.push_back(hash_key_display(row.empty() || !row[0] ? "" : *row[0]));
  return lines;
}

PurgeOutcome ManageHashesModel::OnBnClickedPurge(const std::string& folder,
                                                 const std::function<bool(const std::string&)>& confirm) {
  if (folder.empty()) return PurgeOutcome::kNothingSelected;
  if (!confirm(kPurgeQuestion)) return PurgeOutcome::kCancelled;

  // The folder and everything below it, by an exact, case-sensitive prefix
  // that ends in the separator: no pattern characters, so "_" and "%" in a
  // name match only themselves. The root's prefix is "/" itself.
  std::string prefix = folder.back() == '/' ? folder : folder + "/";
  std::string select = db_format(
      "select rowid from hash_path where path = %Q or substr(path, 1, length(%Q)) = %Q", folder.c_str(),
      prefix.c_str(), prefix.c_str());

  // The failure text to show, taken under the lock and shown after it.
  std::string failure;
  {
    Database::Session session = db_.lock();
    std::string message;
    if (!db_exec_quiet(db_, "begin transaction", &message)) {
      failure = "Can't access database; " + message;
    } else {
      std::vector<DbRow> rows;
      if (!db_query_rows_quiet(db_, select, &rows, &message)) {
        failure = "Can't list folders; " + message;
      } else if (rows.empty()) {
        failure = kFoldersNotFound;
      } else {
        for (const DbRow& row : rows) {
          int id = static_cast<int>(strtol(row.empty() || !row[0] ? "0" : row[0]->c_str(), nullptr, 10));
          if (!db_exec_quiet(db_, db_format("delete from hash_key where hash_path_id = %d", id), &message) ||
              !db_exec_quiet(db_, db_format("delete from hash_path where rowid = %d", id), &message)) {
            failure = "Can't delete records from database; " + message;
            break;
          }
        }
        if (failure.empty() && !db_exec_quiet(db_, "commit", &message))
          failure = "Can't commit database transaction; " + message;
      }
      if (!failure.empty()) {
        std::string ignored;
        db_exec_quiet(db_, "rollback", &ignored);
      }
    }
  }
  if (failure.empty()) return PurgeOutcome::kPurged;
  boxes_.showMessage(failure);
  return PurgeOutcome::kFailed;
}

}  // namespace frontend
