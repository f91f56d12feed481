// dng_text_list: the growing array of owned texts.
#include "dng/core/dng_text_list.h"

#include <cstdlib>
#include <cstring>

#include "dng/core/dng_allocation.h"
#include "dng/core/dng_errors.h"
#include "dng/core/dng_memory_block.h"
#include "dng/core/dng_pixel_kernels.h"

dng_text_list::~dng_text_list() {
  for (uint32_t i = 0; i < count_; ++i) delete entries_[i];
  std::free(entries_);
}

void dng_text_list::GrowCapacity(uint32_t n) {
  if (capacity_ >= n) return;
  uint64_t doubled = uint64_t{capacity_} * 2;
  uint64_t wanted = doubled > n ? doubled : n;
  if (wanted > UINT32_MAX) wanted = UINT32_MAX;
  auto* grown = static_cast<dng_text**>(dng_raw_malloc(static_cast<size_t>(wanted) * sizeof(dng_text*)));
  if (grown == nullptr) throw_dng_code(dng_code_memory);
  if (count_ != 0) dng_pixel_kernels.CopyBlock(entries_, grown, count_ * static_cast<uint32_t>(sizeof(dng_text*)));
  std::free(entries_);
  entries_ = grown;
  capacity_ = static_cast<uint32_t>(wanted);
}

void dng_text_list::InsertCopy(uint32_t index, const dng_text& text) {
  if (index > count_ || count_ == UINT32_MAX) throw_dng_code(dng_code_unknown);
  GrowCapacity(count_ + 1);
  dng_text* copy = dng_new<dng_text>(text);
  std::memmove(entries_ + index + 1, entries_ + index, size_t{count_ - index} * sizeof(dng_text*));
  entries_[index] = copy;
  ++count_;
}
