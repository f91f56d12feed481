// Rows of the examiner's tag tables and the compile-time helpers that sort
// them and prove that no tag appears twice.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

struct TagDef {
  int32_t tag;
  const char* name;  // the name shown in dumps
};

namespace tag_table {

template <size_t N>
constexpr std::array<TagDef, N> sorted_by_tag(std::array<TagDef, N> rows) {
  std::sort(rows.begin(), rows.end(), [](const TagDef& a, const TagDef& b) { return a.tag < b.tag; });
  return rows;
}

template <size_t N>
constexpr bool has_repeated_tag(const std::array<TagDef, N>& sorted) {
  for (size_t i = 1; i < N; ++i) {
    if (sorted[i].tag == sorted[i - 1].tag) return true;
  }
  return false;
}

// The row for tag in a table sorted by tag, or nullptr.
template <size_t N>
constexpr const TagDef* find(const std::array<TagDef, N>& sorted, int32_t tag) {
  auto it = std::lower_bound(sorted.begin(), sorted.end(), tag,
                             [](const TagDef& row, int32_t t) { return row.tag < t; });
  return it != sorted.end() && it->tag == tag ? &*it : nullptr;
}

// "[Tag %d]" for a tag no table names; the text lives until the next call on
// the same thread.
const char* unnamed_tag(int32_t tag);

// The name of tag in a table sorted by tag, or its "[Tag %d]" text.
template <size_t N>
const char* name_of(const std::array<TagDef, N>& sorted, int32_t tag) {
  const TagDef* row = find(sorted, tag);
  return row != nullptr ? row->name : unnamed_tag(tag);
}

}  // namespace tag_table
