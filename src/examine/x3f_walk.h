// The X3F part of the header dispatch and the printing walk of Sigma X3F
// files (TV_IFD_X3F::walk lives with it).
#pragma once

#include "examine/examiner.h"
#include "examine/tv_ifd.h"

// Called by the header dispatch for a file that starts "FOVb": prints the
// X3F header, finds the directory and reads or walks a TV_IFD_X3F there,
// which becomes the state's first directory. Gives the examination's result.
bool x3f_examine_header(ExaminerState* state, ExamineMode mode);
