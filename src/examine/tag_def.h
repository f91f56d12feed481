// Look-ups over the examiner's four tag tables: names of TIFF, EXIF and DNG
// tags, the tags the summary mode keeps, GPS tags, and CIFF records.
#pragma once

#include <cstddef>
#include <cstdint>

#include "examine/tag_table.h"

// The name of a TIFF, EXIF or DNG tag; "[Tag %d]" for a tag without a row
// (formatted into a per-thread buffer that the next such look-up reuses).
const char* tag_def_name(int32_t tag);
// The same over the CIFF record names.
const char* tag_def_CRW_name(int32_t tag);
// The summary name of a tag the summary mode keeps, or nullptr.
const char* tag_def_EXIF_find(int32_t tag);
// The name of a GPS tag, or nullptr.
const char* tag_def_GPS_name(int32_t tag);

// Row counts, for tests.
size_t tag_def_rows();
size_t tag_def_EXIF_rows();
size_t tag_def_GPS_rows();
size_t tag_def_CRW_rows();
