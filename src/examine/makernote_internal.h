// Pieces shared by the maker-note dispatcher and the per-maker directory
// readers: the note being decoded, its directories, the tag tables and the
// warnings.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "examine/tag_table.h"

// A maker's tag names, sorted by tag (built from a constexpr table).
struct MakerTagTable {
  const TagDef* rows;
  size_t size;

  // The name of tag, or nullptr when the table has no row for it.
  const char* name(uint16_t tag) const;
};

template <size_t N>
constexpr MakerTagTable maker_tag_table(const std::array<TagDef, N>& sorted) {
  return MakerTagTable{sorted.data(), N};
}

// Where the decoder stands in one maker note: the byte order (starts as the
// file's), the position in the note from which offsets count (base) and the
// note's end. Positions are indexes into the note's bytes.
struct MakerNoteContext {
  const uint8_t* note;
  uint32_t end;  // the note's length
  bool big_endian;
  uint32_t base = 0;
  bool warnings = true;  // false: the warnings below are dropped
};

// One directory of a maker note. Only the first directory of a chain is
// read: it is all the dump shows, so a next offset is kept but never
// followed (a chain that loops back on itself costs nothing).
struct MakerNoteDirectory {
  uint16_t entry_count = 0;
  uint32_t first_entry = 0;  // position of the first 12-byte entry
  const MakerTagTable* table = nullptr;
  bool big_endian = false;
  uint32_t base = 0;
  uint32_t end = 0;
  uint32_t next = 0;  // offset of the next directory, 0 when none
};

// Reads the directory at position (from the note's start) with the
// context's byte order and base. False when its entry count and entries do
// not all lie inside the note.
bool mn_read_directory(const MakerNoteContext& context, uint32_t position, const MakerTagTable* table,
                       MakerNoteDirectory* out);

// Warnings of the decoders, on standard error unless the context's
// warnings are off: "<program>: text" and "<program>: text (detail)". No
// program name is set, so the name part reads "(null)".
void mn_warn(const MakerNoteContext& context, const char* text);
void mn_warn_detail(const MakerNoteContext& context, const char* text, const char* detail);

// True when the note starts with the length bytes of prefix (which may
// hold zero bytes).
bool mn_starts_with(const MakerNoteContext& context, const char* prefix, size_t length);

// A maker's directory reader: finds the directory to print inside the note,
// adjusting the context's byte order and base as the maker's header says.
// False (after any warning) when the note holds no directory it can read.
using MakerDirectoryReader = bool (*)(MakerNoteContext* context, MakerNoteDirectory* out);

bool read_canon_directory(MakerNoteContext* context, MakerNoteDirectory* out);
bool read_olympus_directory(MakerNoteContext* context, MakerNoteDirectory* out);
bool read_fujifilm_directory(MakerNoteContext* context, MakerNoteDirectory* out);
bool read_nikon_directory(MakerNoteContext* context, MakerNoteDirectory* out);
bool read_casio_directory(MakerNoteContext* context, MakerNoteDirectory* out);
bool read_minolta_directory(MakerNoteContext* context, MakerNoteDirectory* out);
bool read_sanyo_directory(MakerNoteContext* context, MakerNoteDirectory* out);
bool read_asahi_directory(MakerNoteContext* context, MakerNoteDirectory* out);
bool read_leica_directory(MakerNoteContext* context, MakerNoteDirectory* out);
bool read_panasonic_directory(MakerNoteContext* context, MakerNoteDirectory* out);
bool read_sigma_directory(MakerNoteContext* context, MakerNoteDirectory* out);


// The text of a maker-note rational of type 5 (unsigned) or 10 (signed)
// from its two 32-bit parts: "0", "Infinite", a whole number, "%.1f" or
// "n/d" of the reduced fraction.
void mn_rational_text(int type, uint32_t numerator, uint32_t denominator, char* text, size_t size);
