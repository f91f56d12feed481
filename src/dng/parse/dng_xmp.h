// The XMP metadata of a negative: one tree (through dng_xmp_store) plus the
// rules that keep it consistent with the file's EXIF, IPTC and orientation.
//
// Namespaces are the toolkit's standard URIs (tiff, exif, aux, dc, xap,
// photoshop, Iptc4xmpCore); paths are plain property names.
#pragma once

#include <cstdint>
#include <memory>

#include "dng/core/dng_digest.h"
#include "dng/core/dng_image_flip.h"
#include "dng/core/dng_rational.h"

class dng_calendar_time;
class dng_exif;
class dng_host;
class dng_iptc;
class dng_memory_allocator;
class dng_memory_block;
class dng_negative;
class dng_text;
class dng_text_list;
class dng_xmp_store;

// Sync options, a bit set given to every Sync operation. With none of the
// first three set a sync behaves as with dng_xmp_prefer_native.
// The native value replaces the XMP value; an absent native value removes
// the XMP property.
inline constexpr uint32_t dng_xmp_native_replaces = 1;
// When the XMP property can be read it replaces the native value.
inline constexpr uint32_t dng_xmp_prefer_xmp = 2;
// A present native value is written; XMP is read only when it is absent.
inline constexpr uint32_t dng_xmp_prefer_native = 4;
// Texts read from XMP must be ASCII: dropped under prefer-native, folded
// to ASCII otherwise.
inline constexpr uint32_t dng_xmp_ascii_only = 8;

// Owns its store; one thread. Reads never fail except when memory runs out
// (100005): a missing or unreadable property counts as absent. Writes raise
// the store's codes (100005 out of memory, 100000 toolkit failure).
class dng_xmp {
 public:
  // An empty store; 100005 when it cannot be allocated.
  explicit dng_xmp(dng_memory_allocator& allocator);
  // The copy's store shares the source's tree.
  dng_xmp(const dng_xmp& other);
  dng_xmp& operator=(const dng_xmp&) = delete;
  virtual ~dng_xmp();

  // Exchanges the EXIF, TIFF and auxiliary fields of exif with the tiff,
  // exif, aux, dc and xap properties. With native_replaces every sync uses
  // dng_xmp_native_replaces, otherwise dng_xmp_prefer_native.
  virtual void ExchangeExif(dng_exif& exif, bool native_replaces);

  dng_xmp_store& Store() { return *store_; }
  const dng_xmp_store& Store() const { return *store_; }
  dng_memory_allocator& Allocator() const { return *allocator_; }

  // Parses a packet into a new tree (the store's ParsePacket contract).
  void Parse(dng_host& host, const void* bytes, uint32_t length);
  // The serialised tree from the object's allocator (the store's
  // SerializeToBlock contract); null when no tree is held.
  std::unique_ptr<dng_memory_block> WritePacketBlock(bool packet, uint32_t target_length,
                                                     uint32_t padding) const;

  // The sync rule. Each answers true when the native value was taken from
  // XMP.
  // Absent native value: empty text.
  bool SyncString(const char* ns, const char* path, dng_text& text, uint32_t options);
  // Absent native value: empty list. XMP items are appended to the list;
  // written as an unordered (512) or ordered (1024) array.
  bool SyncStringList(const char* ns, const char* path, dng_text_list& list, bool unordered,
                      uint32_t options);
  // "%u"; the caller says whether the native value is absent.
  bool SyncUInt32(const char* ns, const char* path, uint32_t& value, bool absent, uint32_t options);
  // An ordered array of "%u" items; absent when count is 0. Afterwards at
  // most maximum items are read back: count is the number that parse and
  // the slots from count up to maximum are 0. values holds maximum slots.
  bool SyncUInt32Array(const char* ns, const char* path, uint32_t* values, uint32_t& count,
                       uint32_t maximum, uint32_t options);
  // "%u/%u" and "%d/%d"; absent when the denominator is 0.
  bool SyncURational(const char* ns, const char* path, dng_unsigned_ratio& r, uint32_t options);
  bool SyncSRational(const char* ns, const char* path, dng_signed_ratio& r, uint32_t options);

  // Gets answer false when the property is missing or its text does not
  // parse (a number that does not fit its type does not parse); rationals
  // also need a non-zero denominator.
  bool GetUInt32(const char* ns, const char* path, uint32_t& value) const;
  void SetUInt32(const char* ns, const char* path, uint32_t value);
  bool GetURational(const char* ns, const char* path, dng_unsigned_ratio& r) const;
  void SetURational(const char* ns, const char* path, const dng_unsigned_ratio& r);
  bool GetSRational(const char* ns, const char* path, dng_signed_ratio& r) const;
  void SetSRational(const char* ns, const char* path, const dng_signed_ratio& r);
  // 32 hex digits; reading needs exactly 32 and a non-zero result. Setting
  // an all-zero digest deletes the property.
  bool GetFingerprint(const char* ns, const char* path, dng_digest& digest) const;
  void SetFingerprint(const char* ns, const char* path, const dng_digest& digest);

  // The exif:Flash struct against the Flash value (dng_exif_absent: none)
  // and the mask of its known bits.
  void SyncFlash(uint32_t& flash, uint32_t& mask, uint32_t options);

  // The IPTC-NAA fields against the photoshop and Iptc4xmpCore properties.
  void SyncIPTC(dng_iptc& iptc, uint32_t options);
  // Compares the negative's IPTC fingerprint with photoshop:LegacyIPTCDigest.
  // Equal digests change nothing. Otherwise the digest is recorded, the
  // block is loaded (stream codes: a truncated block raises 100011) and
  // synced (prefer XMP only while xmp_wins holds and no other digest was
  // recorded, else prefer native), and the negative's block is dropped.
  void VerifyIPTCFingerprint(dng_negative& negative, bool xmp_wins);
  // With a tree held: a record taking every IPTC field the XMP has; when it
  // has any, its block is adopted by the negative (offset 0xFFFFFFFF).
  void BuildIPTCBlock(dng_negative& negative);
  dng_digest GetIPTCDigest() const;
  void SetIPTCDigest(const dng_digest& digest);

  // tiff:DateTime of the date-time with time, no fraction and the zone
  // hours (outside -13..13: the zone in force at that date).
  void UpdateDateTime(const dng_calendar_time& date_time, int32_t zone_hours);

  // tiff:Orientation 1..8 as a flip; anything else gives code 0.
  dng_image_flip GetOrientation() const;
  void SetOrientation(const dng_image_flip& flip);
  void DropOrientation();
  // The negative takes a tiff:Orientation of 1..8 when xmp_wins is set or it
  // has no orientation; otherwise its orientation is written to XMP.
  void ReconcileOrientation(dng_negative& negative, bool xmp_wins);

 private:
  // The native text read from XMP by the sync rule (step 3's ASCII rule).
  void SyncDates(dng_exif& exif, uint32_t options);
  void SyncLens(dng_exif& exif, uint32_t options);
  void SyncGps(dng_exif& exif, uint32_t options);
  void SyncExifVersion(dng_exif& exif, uint32_t options);
  void SyncExposure(dng_exif& exif, uint32_t options);
  void SyncAltText(const char* ns, const char* path, dng_text& text);
  void SyncCreator(dng_exif& exif);
  void SyncUserComment(dng_exif& exif);

  dng_memory_allocator* allocator_;
  std::unique_ptr<dng_xmp_store> store_;
};
