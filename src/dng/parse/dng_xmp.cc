#include "dng/parse/dng_xmp.h"

#include "dng/core/dng_errors.h"
#include "dng/core/dng_memory_block.h"
#include "dng/parse/dng_xmp_store.h"

dng_xmp::dng_xmp(dng_memory_allocator& allocator) : allocator_(&allocator), store_(std::make_unique<dng_xmp_store>()) {}
dng_xmp::dng_xmp(const dng_xmp& other) : allocator_(other.allocator_), store_(std::make_unique<dng_xmp_store>(*other.store_)) {}
dng_xmp::~dng_xmp() = default;
// Interface stubs: filled in by the following changes.
void dng_xmp::ExchangeExif(dng_exif&, bool) {}
void dng_xmp::Parse(dng_host&, const void*, uint32_t) {}
std::unique_ptr<dng_memory_block> dng_xmp::WritePacketBlock(bool, uint32_t, uint32_t) const { return nullptr; }
bool dng_xmp::SyncString(const char*, const char*, dng_text&, uint32_t) { return false; }
bool dng_xmp::SyncStringList(const char*, const char*, dng_text_list&, bool, uint32_t) { return false; }
bool dng_xmp::SyncUInt32(const char*, const char*, uint32_t&, bool, uint32_t) { return false; }
bool dng_xmp::SyncUInt32Array(const char*, const char*, uint32_t*, uint32_t&, uint32_t, uint32_t) { return false; }
bool dng_xmp::SyncURational(const char*, const char*, dng_unsigned_ratio&, uint32_t) { return false; }
bool dng_xmp::SyncSRational(const char*, const char*, dng_signed_ratio&, uint32_t) { return false; }
bool dng_xmp::GetUInt32(const char*, const char*, uint32_t&) const { return false; }
void dng_xmp::SetUInt32(const char*, const char*, uint32_t) {}
bool dng_xmp::GetURational(const char*, const char*, dng_unsigned_ratio&) const { return false; }
void dng_xmp::SetURational(const char*, const char*, const dng_unsigned_ratio&) {}
bool dng_xmp::GetSRational(const char*, const char*, dng_signed_ratio&) const { return false; }
void dng_xmp::SetSRational(const char*, const char*, const dng_signed_ratio&) {}
bool dng_xmp::GetFingerprint(const char*, const char*, dng_digest&) const { return false; }
void dng_xmp::SetFingerprint(const char*, const char*, const dng_digest&) {}
void dng_xmp::SyncFlash(uint32_t&, uint32_t&, uint32_t) {}
void dng_xmp::SyncIPTC(dng_iptc&, uint32_t) {}
void dng_xmp::VerifyIPTCFingerprint(dng_negative&, bool) {}
void dng_xmp::BuildIPTCBlock(dng_negative&) {}
dng_digest dng_xmp::GetIPTCDigest() const { return dng_digest(); }
void dng_xmp::SetIPTCDigest(const dng_digest&) {}
void dng_xmp::UpdateDateTime(const dng_calendar_time&, int32_t) {}
dng_image_flip dng_xmp::GetOrientation() const { return dng_image_flip(); }
void dng_xmp::SetOrientation(const dng_image_flip&) {}
void dng_xmp::DropOrientation() {}
void dng_xmp::ReconcileOrientation(dng_negative&, bool) {}
void dng_xmp::SyncDates(dng_exif&, uint32_t) {}
void dng_xmp::SyncLens(dng_exif&, uint32_t) {}
void dng_xmp::SyncGps(dng_exif&, uint32_t) {}
void dng_xmp::SyncExifVersion(dng_exif&, uint32_t) {}
void dng_xmp::SyncExposure(dng_exif&, uint32_t) {}
void dng_xmp::SyncAltText(const char*, const char*, dng_text&) {}
void dng_xmp::SyncCreator(dng_exif&) {}
void dng_xmp::SyncUserComment(dng_exif&) {}
