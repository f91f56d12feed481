// The hook through which a long job can be stopped: polled before each tile
// of an area task, each physical transfer of a stream and each spooled band.
#pragma once

class dng_cancel_hook {
 public:
  virtual ~dng_cancel_hook() = default;
  // Returns to go on; throws a dng_exception to abort the job.
  virtual void Poll() = 0;
};
