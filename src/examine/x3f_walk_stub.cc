// Stand-in for the X3F walk until it is written: an X3F file is recognised
// and refused by the silent read, but its sections are not printed.
#include "examine/x3f_walk.h"

TV_IFD_X3F::~TV_IFD_X3F() = default;

bool TV_IFD_X3F::walk(uint32_t, const char*, bool, bool, bool) {
  return fail("TV_IFD_X3F::walk not supported");
}

bool x3f_examine_header(ExaminerState* state, ExamineMode mode) {
  auto* directory = new TV_IFD_X3F(state);
  state->first = directory;
  if (mode == ExamineMode::read) return directory->read(0);
  return directory->walk(0, "First", mode == ExamineMode::walk_stop_after_exif, false, false);
}
