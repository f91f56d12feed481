#include "dng/core/dng_host.h"

#include "dng/core/dng_errors.h"

dng_host::dng_host(dng_memory_allocator* allocator, dng_cancel_hook* hook)
    : allocator_(allocator != nullptr ? allocator : &default_memory_allocator), hook_(hook) {}

dng_host::~dng_host() = default;

dng_memory_block* dng_host::AllocateBlock(uint32_t size) { return allocator_->NewBlock(size); }

void dng_host::PollCancel() {
  if (hook_ != nullptr) hook_->Poll();
}

bool dng_host::IsRetryableCode(int32_t code) const {
  return code == dng_code_canceled || code == dng_code_memory;
}

void dng_host::RunAreaTask(dng_area_task& task, const dng_box& area) {
  run_area_task_single(task, area, *allocator_, hook_);
}

// Weak stand-ins: the parse library defines these next to the classes they
// make, and its programs take those. Programs without it get 100000.
__attribute__((weak)) std::unique_ptr<dng_exif> dng_host::NewExif() {
  throw_dng_code(dng_code_unknown);
}

__attribute__((weak)) std::unique_ptr<dng_shared> dng_host::NewShared() {
  throw_dng_code(dng_code_unknown);
}

__attribute__((weak)) std::unique_ptr<dng_ifd> dng_host::NewIFD() {
  throw_dng_code(dng_code_unknown);
}

__attribute__((weak)) std::unique_ptr<dng_negative> dng_host::NewNegative() {
  throw_dng_code(dng_code_unknown);
}
