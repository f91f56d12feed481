// The printing walk of Canon CIFF files (TV_IFD_CRW::walk lives with it).
#pragma once

#include <cstdint>

#include "examine/tv_ifd.h"

// Prints the CIFF block of block_length bytes at block_start (absolute),
// labelled label, and the sub-blocks it holds, which become the block's
// sub_blocks. False with the message set when the block cannot be read or
// is not sound (a sub-block outside its parent, nesting or record counts
// past the examiner's limits).
bool crw_walk_block(TV_IFD_CRW* block, uint64_t block_start, uint64_t block_length, const char* label,
                    bool stop_after_exif, bool summary, bool hide_maker_note);
