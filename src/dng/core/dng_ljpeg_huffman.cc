#include "dng/core/dng_ljpeg_huffman.h"

#include <cstring>

#include "dng/core/dng_errors.h"

void build_huffman_lookup(ljpeg_huffman_table& table) {
  // Canonical codes: increasing within a length, doubled when it grows. Every
  // code of length L must stay below 2^L, else the table claims more codes
  // than fit and the lookahead ranges would run past their arrays.
  uint16_t codes[256];
  uint8_t lengths[256];
  uint32_t total = 0;
  uint32_t code = 0;
  for (uint32_t length = 1; length <= 16; ++length) {
    uint32_t count = table.counts[length];
    if (total + count > 256) throw_dng_code(dng_code_bad_format);
    if (count != 0 && code + count > (1u << length)) throw_dng_code(dng_code_bad_format);
    table.value_index[length] = static_cast<uint16_t>(total);
    if (count == 0) {
      table.min_code[length] = 0;
      table.max_code[length] = -1;
    } else {
      table.min_code[length] = static_cast<uint16_t>(code);
      table.max_code[length] = static_cast<int32_t>(code + count - 1);
    }
    for (uint32_t i = 0; i < count; ++i) {
      codes[total] = static_cast<uint16_t>(code);
      lengths[total] = static_cast<uint8_t>(length);
      ++total;
      ++code;
    }
    code <<= 1;
  }
  table.min_code[0] = 0;
  table.max_code[0] = -1;
  table.value_index[0] = 0;
  table.min_code[17] = 0;
  table.max_code[17] = 0xFFFFF;
  table.value_index[17] = 0;

  std::memset(table.encode_length, 0, sizeof table.encode_length);
  std::memset(table.encode_code, 0, sizeof table.encode_code);
  for (uint32_t i = 0; i < total; ++i) {
    table.encode_code[table.values[i]] = codes[i];
    table.encode_length[table.values[i]] = lengths[i];
  }

  std::memset(table.lookahead_length, 0, sizeof table.lookahead_length);
  std::memset(table.lookahead_symbol, 0, sizeof table.lookahead_symbol);
  for (uint32_t i = 0; i < total && lengths[i] <= 8; ++i) {
    uint32_t shift = 8u - lengths[i];
    uint32_t first = uint32_t{codes[i]} << shift;
    uint32_t last = first | ((1u << shift) - 1u);
    for (uint32_t entry = first; entry <= last; ++entry) {
      table.lookahead_length[entry] = lengths[i];
      table.lookahead_symbol[entry] = table.values[i];
    }
  }
}

void ljpeg_code_lengths(ljpeg_huffman_table& table, const uint32_t frequencies[257]) {
  uint64_t freq[257];
  int32_t others[257];
  uint32_t code_size[257];
  for (int i = 0; i < 256; ++i) freq[i] = frequencies[i];
  freq[256] = 1;  // the reserved code point, so no code is all 1-bits
  for (int i = 0; i < 257; ++i) {
    others[i] = -1;
    code_size[i] = 0;
  }

  for (;;) {
    // The least frequent non-zero count; ties go to the larger symbol.
    int c1 = -1;
    uint64_t v = UINT64_MAX;
    for (int i = 0; i < 257; ++i) {
      if (freq[i] != 0 && freq[i] <= v) {
        v = freq[i];
        c1 = i;
      }
    }
    // The next least frequent, different from the first.
    int c2 = -1;
    v = UINT64_MAX;
    for (int i = 0; i < 257; ++i) {
      if (freq[i] != 0 && freq[i] <= v && i != c1) {
        v = freq[i];
        c2 = i;
      }
    }
    if (c2 < 0) break;
    freq[c1] += freq[c2];
    freq[c2] = 0;
    ++code_size[c1];
    while (others[c1] >= 0) {
      c1 = others[c1];
      ++code_size[c1];
    }
    others[c1] = c2;
    ++code_size[c2];
    while (others[c2] >= 0) {
      c2 = others[c2];
      ++code_size[c2];
    }
  }

  uint32_t bits[33] = {};
  for (int i = 0; i < 257; ++i) {
    if (code_size[i] == 0) continue;
    if (code_size[i] > 32) throw_dng_code(dng_code_unknown);
    ++bits[code_size[i]];
  }
  for (int length = 17; length <= 32; ++length) {
    if (bits[length] != 0) throw_dng_code(dng_code_unknown);
  }
  // Remove the reserved code point from the longest length in use.
  int longest = 16;
  while (longest > 0 && bits[longest] == 0) --longest;
  if (longest > 0) --bits[longest];

  std::memset(table.counts, 0, sizeof table.counts);
  for (int length = 1; length <= 16; ++length) table.counts[length] = static_cast<uint8_t>(bits[length]);
  uint32_t p = 0;
  std::memset(table.values, 0, sizeof table.values);
  for (uint32_t length = 1; length <= 32; ++length) {
    for (int i = 0; i < 256; ++i) {
      if (code_size[i] == length) table.values[p++] = static_cast<uint8_t>(i);
    }
  }
}
