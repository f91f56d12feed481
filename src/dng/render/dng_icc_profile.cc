#include "dng/render/dng_icc_profile.h"

#include <cmath>
#include <cstring>

#include "dng/core/dng_chromaticity.h"
#include "dng/core/dng_errors.h"
#include "dng/render/dng_color_space.h"

namespace {

constexpr uint32_t kHeaderSize = 128;
constexpr uint32_t kTagEntrySize = 12;
constexpr uint32_t kXYZTagSize = 20;
// The profile's illuminant and media white: D50 as ICC states it.
constexpr double kD50[3] = {0.9642, 1.0, 0.8249};

uint32_t pad4(uint32_t n) { return (n + 3u) & ~3u; }

uint32_t signature(const char (&s)[5]) {
  return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
         (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

// Big-endian writer over a buffer of fixed size.
class icc_writer {
 public:
  explicit icc_writer(uint32_t size) : bytes_(size, 0) {}
  void Seek(uint32_t at) { at_ = at; }
  uint32_t Position() const { return at_; }
  void U8(uint8_t v) { bytes_.at(at_++) = v; }
  void U16(uint16_t v) {
    U8(uint8_t(v >> 8));
    U8(uint8_t(v));
  }
  void U32(uint32_t v) {
    U16(uint16_t(v >> 16));
    U16(uint16_t(v));
  }
  void Sig(const char (&s)[5]) { U32(signature(s)); }
  void S15Fixed16(double v) { U32(static_cast<uint32_t>(static_cast<int32_t>(std::lround(v * 65536.0)))); }
  void Ascii(const char* s) {
    for (; *s != 0; ++s) U8(uint8_t(*s));
    U8(0);
  }
  std::vector<uint8_t> Take() { return std::move(bytes_); }

 private:
  std::vector<uint8_t> bytes_;
  uint32_t at_ = 0;
};

struct tag_slot {
  const char* sig;
  uint32_t offset;
  uint32_t size;
};

}  // namespace

std::vector<uint8_t> make_display_icc_profile(const dng_color_space& space,
                                              const dng_icc_profile_recipe& recipe) {
  const bool gray = space.IsMonochrome();
  const uint32_t tag_count = gray ? 4 : 9;
  const uint32_t desc_size = 90 + uint32_t(std::strlen(recipe.description)) + 1;
  const uint32_t cprt_size = 8 + uint32_t(std::strlen(recipe.notice)) + 1;

  uint32_t at = kHeaderSize + 4 + tag_count * kTagEntrySize;
  const uint32_t desc_at = at;
  at += pad4(desc_size);
  const uint32_t cprt_at = at;
  at += pad4(cprt_size);
  const uint32_t wtpt_at = at;
  at += kXYZTagSize;
  const uint32_t colorants_at = at;
  if (!gray) at += 3 * kXYZTagSize;
  const uint32_t curve_at = at;
  // The curve ends the profile: 12 bytes of header and 2 per entry.
  if (recipe.size < curve_at + 12 + 4 || (recipe.size - curve_at - 12) % 2 != 0) {
    throw_dng_code(dng_code_unknown);
  }
  const uint32_t curve_entries = (recipe.size - curve_at - 12) / 2;
  const uint32_t curve_size = 12 + 2 * curve_entries;

  icc_writer w(recipe.size);
  // Header.
  w.U32(recipe.size);
  w.U32(0);             // preferred CMM: none
  w.U32(0x02100000);    // version 2.1.0
  w.Sig("mntr");
  w.Sig(gray ? "GRAY" : "RGB ");
  w.Sig("XYZ ");
  const uint16_t date[6] = {2026, 1, 1, 0, 0, 0};
  for (uint16_t v : date) w.U16(v);
  w.Sig("acsp");
  w.U32(0);  // primary platform: none
  w.U32(0);  // flags
  w.U32(0);  // device manufacturer
  w.U32(0);  // device model
  w.U32(0);  // device attributes
  w.U32(0);
  w.U32(0);  // rendering intent: perceptual
  for (double v : kD50) w.S15Fixed16(v);
  w.U32(0);  // creator
  // Tag table.
  w.Seek(kHeaderSize);
  w.U32(tag_count);
  std::vector<tag_slot> slots = {{"desc", desc_at, desc_size},
                                 {"cprt", cprt_at, cprt_size},
                                 {"wtpt", wtpt_at, kXYZTagSize}};
  if (gray) {
    slots.push_back({"kTRC", curve_at, curve_size});
  } else {
    slots.push_back({"rXYZ", colorants_at, kXYZTagSize});
    slots.push_back({"gXYZ", colorants_at + kXYZTagSize, kXYZTagSize});
    slots.push_back({"bXYZ", colorants_at + 2 * kXYZTagSize, kXYZTagSize});
    slots.push_back({"rTRC", curve_at, curve_size});
    slots.push_back({"gTRC", curve_at, curve_size});
    slots.push_back({"bTRC", curve_at, curve_size});
  }
  for (const tag_slot& slot : slots) {
    const char* s = slot.sig;
    w.U32((uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
          (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3])));
    w.U32(slot.offset);
    w.U32(slot.size);
  }
  // desc: textDescriptionType with the ASCII text, no Unicode or ScriptCode
  // text (the 67-byte ScriptCode field stays zero).
  w.Seek(desc_at);
  w.Sig("desc");
  w.U32(0);
  w.U32(uint32_t(std::strlen(recipe.description)) + 1);
  w.Ascii(recipe.description);
  // cprt: textType.
  w.Seek(cprt_at);
  w.Sig("text");
  w.U32(0);
  w.Ascii(recipe.notice);
  // wtpt and the colorants, the columns of the to-PCS matrix.
  w.Seek(wtpt_at);
  w.Sig("XYZ ");
  w.U32(0);
  for (double v : kD50) w.S15Fixed16(v);
  if (!gray) {
    const dng_matrix& m = space.MatrixToPCS();
    for (uint32_t column = 0; column < 3; ++column) {
      w.Sig("XYZ ");
      w.U32(0);
      for (uint32_t row = 0; row < 3; ++row) w.S15Fixed16(m[row][column]);
    }
  }
  // The tone curve: device value i / (n - 1) to its linear value.
  w.Seek(curve_at);
  w.Sig("curv");
  w.U32(0);
  w.U32(curve_entries);
  const dng_1d_function& curve = space.EncodingCurve();
  for (uint32_t i = 0; i < curve_entries; ++i) {
    double v = curve.InverseAt(double(i) / double(curve_entries - 1));
    v = v > 0.0 ? (v < 1.0 ? v : 1.0) : 0.0;
    w.U16(static_cast<uint16_t>(std::lround(v * 65535.0)));
  }
  return w.Take();
}

const std::vector<uint8_t>& srgb_icc_profile() {
  static const std::vector<uint8_t> profile = make_display_icc_profile(
      dng_space_sRGB::Instance(), {"Corvella sRGB", "Public domain", 3144});
  return profile;
}

const std::vector<uint8_t>& prophoto_icc_profile() {
  static const std::vector<uint8_t> profile = make_display_icc_profile(
      dng_space_ProPhoto::Instance(), {"Corvella ProPhoto RGB", "Public domain", 940});
  return profile;
}

const std::vector<uint8_t>& gray_gamma22_icc_profile() {
  static const std::vector<uint8_t> profile = make_display_icc_profile(
      dng_space_GrayGamma22::Instance(), {"Corvella Gray Gamma 2.2", "Public domain", 408});
  return profile;
}
