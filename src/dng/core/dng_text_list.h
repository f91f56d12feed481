// An append-only list of owned texts (XMP arrays, IPTC keywords).
#pragma once

#include <cstdint>

#include "dng/core/dng_text.h"

// Owns its entries and its array until destruction; there is no removal.
// Used by one thread at a time; allocation failures raise 100005.
class dng_text_list {
 public:
  dng_text_list() = default;
  ~dng_text_list();
  dng_text_list(const dng_text_list&) = delete;
  dng_text_list& operator=(const dng_text_list&) = delete;

  uint32_t Count() const { return count_; }
  uint32_t Capacity() const { return capacity_; }

  // Index below Count().
  const dng_text& operator[](uint32_t index) const { return *entries_[index]; }
  dng_text& operator[](uint32_t index) { return *entries_[index]; }

  // When the capacity is below n it becomes the larger of n and twice the
  // old capacity.
  void GrowCapacity(uint32_t n);

  // Stores a copy of text at index (at most Count()), moving the entries
  // from there up by one place.
  void InsertCopy(uint32_t index, const dng_text& text);

  void Append(const dng_text& text) { InsertCopy(count_, text); }

 private:
  uint32_t count_ = 0;
  uint32_t capacity_ = 0;
  dng_text** entries_ = nullptr;  // malloc'd array of capacity_ pointers
};
