// Fills a linearization info from the main image directory.
#pragma once

class dng_host;
class dng_ifd;
class dng_linearization_info;
class dng_stream;

// Copies the active and masked areas, black levels and white levels, reads
// the linearization table and the row and column black deltas from their
// file positions, then quantizes the black levels. A table or delta array
// that does not fit the stream raises 100011 before anything is sized.
void parse_linearization_info(dng_host& host, dng_stream& stream, const dng_ifd& ifd,
                              dng_linearization_info& info);
