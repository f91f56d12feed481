// Huffman tables of the lossless JPEG codec: canonical code generation and
// optimal code lengths.
#pragma once

#include <cstdint>

// One Huffman table, used by both the decoder and the encoder.
struct ljpeg_huffman_table {
  uint8_t counts[17];    // counts[0] is always 0; counts[L] codes of length L
  uint8_t values[256];   // symbols in code order
  // Decode arrays indexed by code length 0..17.
  uint16_t min_code[18];
  int32_t max_code[18];  // -1 for a length without codes; 0xFFFFF at 17
  uint16_t value_index[18];
  // For every 8-bit prefix: the length of the code of up to 8 bits that starts
  // it (0 for none) and that code's symbol.
  int32_t lookahead_length[256];
  int32_t lookahead_symbol[256];
  // Encode arrays: the code and code length (0 for none) of every symbol.
  uint16_t encode_code[256];
  uint8_t encode_length[256];
};

// Fills the decode, lookahead and encode arrays from counts and values.
// Raises 100006 when the counts do not fit the code space (some code of
// length L would reach 2^L) or name more than 256 symbols.
void build_huffman_lookup(ljpeg_huffman_table& table);

// Fills counts and values with optimal code lengths for the 257 frequencies
// (symbol 256 is the reserved code point and is given frequency 1). A code
// longer than 16 bits raises 100000.
void ljpeg_code_lengths(ljpeg_huffman_table& table, const uint32_t frequencies[257]);
