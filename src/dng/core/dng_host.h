// The services of one DNG job: memory blocks, cancellation polling, the
// test for transient errors, the running of area tasks, the factories of
// the parse objects, and the options of the job.
#pragma once

#include <cstdint>
#include <memory>

#include "dng/core/dng_area_task.h"
#include "dng/core/dng_box.h"
#include "dng/core/dng_memory_allocator.h"
#include "dng/core/dng_memory_block.h"

class dng_exif;
class dng_shared;
class dng_ifd;
class dng_negative;

class dng_host {
 public:
  // A null allocator means default_memory_allocator; the hook may be null.
  // Neither is owned.
  explicit dng_host(dng_memory_allocator* allocator = nullptr, dng_cancel_hook* hook = nullptr);
  virtual ~dng_host();
  dng_host(const dng_host&) = delete;
  dng_host& operator=(const dng_host&) = delete;

  dng_memory_allocator& Allocator() const { return *allocator_; }
  dng_cancel_hook* CancelHook() const { return hook_; }

  // A new block from the host's allocator; failure raises 100005.
  virtual dng_memory_block* AllocateBlock(uint32_t size);
  // Polls the cancel hook, if any.
  virtual void PollCancel();
  // True exactly for the transient codes 100003 and 100005.
  virtual bool IsRetryableCode(int32_t code) const;
  // Runs the task over the area on this thread.
  virtual void RunAreaTask(dng_area_task& task, const dng_box& area);

  // Factories of the parse objects; allocation failure raises 100005. The
  // parse library defines them beside their classes; a program
  // built without it gets weak stand-ins that raise 100000.
  virtual std::unique_ptr<dng_exif> NewExif();
  virtual std::unique_ptr<dng_shared> NewShared();
  virtual std::unique_ptr<dng_ifd> NewIFD();
  virtual std::unique_ptr<dng_negative> NewNegative();

  // Options of the job.
  bool ReadMetadata() const { return read_metadata_; }
  void SetReadMetadata(bool on) { read_metadata_ = on; }
  // 0 = full size; otherwise the demosaic may reduce the image towards it.
  uint32_t TargetSize() const { return target_size_; }
  void SetTargetSize(uint32_t size) { target_size_ = size; }
  bool KeepStage1() const { return keep_stage1_; }
  void SetKeepStage1(bool on) { keep_stage1_ = on; }
  bool KeepStage2() const { return keep_stage2_; }
  void SetKeepStage2(bool on) { keep_stage2_ = on; }
  bool KeepPrivateData() const { return keep_private_data_; }
  void SetKeepPrivateData(bool on) { keep_private_data_ = on; }
  bool KeepOriginalRawData() const { return keep_original_raw_; }
  void SetKeepOriginalRawData(bool on) { keep_original_raw_ = on; }

 private:
  dng_memory_allocator* allocator_;
  dng_cancel_hook* hook_;
  bool read_metadata_ = true;
  uint32_t target_size_ = 0;
  bool keep_stage1_ = false;
  bool keep_stage2_ = false;
  bool keep_private_data_ = false;
  bool keep_original_raw_ = false;
};
