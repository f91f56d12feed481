// The checks that compare a tag's type, count and placement with what its
// reader expects. Each returns true when the tag passes; a failure prints one
// warning line naming the directory and the tag and returns false. The
// caller decides whether false stops it.
#pragma once

#include <cstdint>

// One warning line: the format (printf rules) formatted into a 256-byte
// buffer, then reported through report_dng_warning.
void report_formatted_warning(const char* format, ...) __attribute__((format(printf, 1, 2)));

// One warning line "<parent name> <tag name> " followed by the formatted
// tail, e.g. report_tag_warning(0, 271, "has unexpected count (%u)", 3).
void report_tag_warning(uint32_t parent, uint32_t tag, const char* tail_format, ...)
    __attribute__((format(printf, 3, 4)));

// type is one of the allowed types (unused slots are 0): "%s %s has
// unexpected type (%s)" with the type's name.
bool check_tag_type(uint32_t parent, uint32_t tag, uint32_t type, uint32_t type1,
                    uint32_t type2 = 0, uint32_t type3 = 0, uint32_t type4 = 0);

// min <= count <= max, where a max below min means max = min: "%s %s has
// unexpected count (%u)".
bool check_tag_count(uint32_t parent, uint32_t tag, uint32_t count, uint32_t min,
                     uint32_t max = 0);

// More than one colour plane. 0 planes: "... is not allowed with unknown color
// plane count  (missing ColorMatrix1 tag?)"; 1: "... is not allowed with
// monochrome images".
bool check_color_planes(uint32_t parent, uint32_t tag, uint32_t planes);

// NewSubFileType 0: "%s %s is not allowed IFDs with NewSubFileType != 0".
bool check_main_ifd(uint32_t parent, uint32_t tag, uint32_t new_subfile_type);

// PhotometricInterpretation 32803 or 34892: "%s %s is not allowed in IFDs with
// a non-raw PhotometricInterpretation".
bool check_raw_ifd(uint32_t parent, uint32_t tag, uint32_t photometric);

// PhotometricInterpretation 32803: "%s %s is not allowed in IFDs with a
// non-CFA PhotometricInterpretation".
bool check_cfa_ifd(uint32_t parent, uint32_t tag, uint32_t photometric);
