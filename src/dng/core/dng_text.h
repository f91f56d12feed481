// An owned, zero-terminated UTF-8 text with its conversions from code pages
// and UTF-16, its folding to ASCII, comparisons and clean-up operations.
#pragma once

#include <cstdint>

#include "dng/core/dng_heap_buffer.h"

// Owns its bytes in a heap block; no block means the empty text, and an
// empty text never holds a block. Used by one thread at a time. Every
// allocation failure raises 100005; no operation fails on the content.
class dng_text {
 public:
  dng_text() = default;
  explicit dng_text(const char* s) { Assign(s); }
  dng_text(const dng_text& other) { Assign(other.CStr()); }
  dng_text& operator=(const dng_text& other);

  // Null or "" empties the text. Otherwise copies s (which may point into
  // this text): the current block is reused when s is no longer than the
  // text, else a new one of exactly the needed size replaces it.
  void Assign(const char* s);

  // The bytes; "" for the empty text, never null.
  const char* CStr() const;

  bool Empty() const { return buffer_.Buffer() == nullptr; }
  uint32_t ByteLength() const;
  // No byte of 0x80 or above.
  bool AllASCII() const;

  // Appends s (which may point into this text) in a new block.
  void Concat(const char* s);

  // Same length and bytes; without case_sensitive, 'a'-'z' on both sides
  // compare as 'A'-'Z' (nothing else is folded).
  bool EqualsText(const char* s, bool case_sensitive) const;
  // The text starts with s (same comparison); every text begins with "".
  bool BeginsWith(const char* s, bool case_sensitive) const;

  // Removes trailing 0x20 bytes; true when any was removed.
  bool StripTrailingSpaces();
  // Each line end (CR LF, LF CR, lone CR, lone LF; pairs taken greedily from
  // the left) becomes the replacement, or disappears when it is 0.
  void NormalizeLineEnds(char replacement);
  // Removes the bytes 1-9, 11, 12 and 14-31.
  void DropControlChars();
  // Cuts a text longer than n bytes at n, moved back over continuation bytes
  // (0x80-0xBF) so no sequence is split.
  void LimitBytes(uint32_t n);
  // Replaces every code point above U+007F by its ASCII fallback ("?" when
  // it has none). An all-ASCII text is left untouched.
  void FoldToASCII();

  // Sets the text from zero-terminated UTF-16 units (null empties it). A
  // leading FEFF is skipped; a leading FFFE is skipped and the rest read
  // byte-swapped. Valid surrogate pairs form one code point; every other
  // unit, unpaired surrogates included, is encoded on its own.
  void AssignUTF16(const uint16_t* units);

  // Converts s from the code page through UTF-16; the text is empty when s
  // is, or when the conversion fails.
  void AssignCodePage(const char* s, uint32_t code_page);
  // Null or all-ASCII: Assign; otherwise the system code page (1252).
  void AssignSystemCodePage(const char* s);
  // Null or all-ASCII: Assign; otherwise code page 20932 (EUC-JP).
  void AssignJISCodePage(const char* s);
  // The values of TIFF ASCII tags: as AssignSystemCodePage.
  void AssignASCIIOrSystem(const char* s) { AssignSystemCodePage(s); }

  // Writes the text as zero-terminated UTF-16 into a new block of out and
  // answers the number of units without the terminator. Code points above
  // U+10FFFF become U+FFFD.
  uint32_t ToUTF16Units(dng_heap_buffer& out) const;

 private:
  char* Bytes() const { return buffer_.Buffer_char(); }
  // Replaces the block by a copy of length bytes (not inside this text).
  void TakeCopy(const char* bytes, uint32_t length);
  // Releases the block when an edit left the text empty.
  void ReleaseIfEmpty();

  dng_heap_buffer buffer_;
};
