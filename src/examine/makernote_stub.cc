// Stand-in for the maker-note decoders until they are written: a maker
// note is kept and its offset printed by the examiner, but not decoded.
#include "examine/makernote.h"

void print_maker_notes(PrintFn, const char*, const uint8_t*, uint32_t, const char*, bool, FILE*, uint64_t,
                       MakerNoteFindings*) {}
