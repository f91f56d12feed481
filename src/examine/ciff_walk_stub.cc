// Stand-in for the CIFF walk until it is written: a CIFF file is
// recognised, but its heap is not printed.
#include "examine/ciff_walk.h"

#include "examine/examiner.h"

TV_IFD_CRW::~TV_IFD_CRW() = default;

bool TV_IFD_CRW::walk(uint32_t, const char*, bool, bool, bool) {
  return fail("TV_IFD_CRW::walk not supported");
}

bool crw_walk_block(TV_IFD_CRW* block, uint32_t, uint32_t, const char*, bool, bool, bool) {
  return block->state->fail("TV_IFD_CRW::walk not supported");
}
