// Display names of directories (parent codes), tags, TIFF field types and
// tag values, for the warning lines and dumps of the DNG tag readers.
//
// Every function returns a zero-terminated string: a table entry, or a
// fallback formatted into a 32-byte buffer of that function (one per value
// kind for tag_value_name), valid until the same function formats again.
#pragma once

#include <cstdint>

// Parent codes of the directories of a DNG file.
inline constexpr uint32_t dng_parent_ifd0 = 0;
inline constexpr uint32_t dng_parent_exif = 34665;
inline constexpr uint32_t dng_parent_gps = 34853;
inline constexpr uint32_t dng_parent_interop = 40965;
inline constexpr uint32_t dng_parent_kodak_dcr = 33424;
inline constexpr uint32_t dng_parent_kodak_kdc = 65024;
inline constexpr uint32_t dng_parent_first_sub_ifd = 0x10000;     // slot k: + k - 1
inline constexpr uint32_t dng_parent_first_chained_ifd = 0x20000;  // chained n: + n
inline constexpr uint32_t dng_parent_first_maker_note = 0x30000;
inline constexpr uint32_t dng_parent_canon_maker_note = 0x30000;
inline constexpr uint32_t dng_parent_epson_maker_note = 0x30001;
inline constexpr uint32_t dng_parent_fuji_maker_note = 0x30002;
inline constexpr uint32_t dng_parent_kodak_maker_note = 0x30003;
inline constexpr uint32_t dng_parent_leica_maker_note = 0x30005;
inline constexpr uint32_t dng_parent_mamiya_maker_note = 0x30006;
inline constexpr uint32_t dng_parent_minolta_maker_note = 0x30007;
inline constexpr uint32_t dng_parent_nikon_maker_note = 0x30008;
inline constexpr uint32_t dng_parent_olympus_maker_note = 0x30009;
inline constexpr uint32_t dng_parent_olympus_8208 = 0x3000A;
inline constexpr uint32_t dng_parent_olympus_8224 = 0x3000B;
inline constexpr uint32_t dng_parent_olympus_8240 = 0x3000C;
inline constexpr uint32_t dng_parent_olympus_8256 = 0x3000D;
inline constexpr uint32_t dng_parent_olympus_8272 = 0x3000E;
inline constexpr uint32_t dng_parent_olympus_12288 = 0x3000F;
inline constexpr uint32_t dng_parent_panasonic_maker_note = 0x30010;
inline constexpr uint32_t dng_parent_pentax_maker_note = 0x30011;
inline constexpr uint32_t dng_parent_ricoh_maker_note = 0x30013;
inline constexpr uint32_t dng_parent_ricoh_camera_info = 0x30014;
inline constexpr uint32_t dng_parent_sony_maker_note = 0x30015;
inline constexpr uint32_t dng_parent_canon_crw = 0x40000;
inline constexpr uint32_t dng_parent_contax_raw = 0x40001;
inline constexpr uint32_t dng_parent_fuji_raf = 0x40003;
inline constexpr uint32_t dng_parent_leaf_mos = 0x40007;
inline constexpr uint32_t dng_parent_minolta_mrw = 0x40008;
inline constexpr uint32_t dng_parent_panasonic_raw = 0x40009;

// Tag codes inside private data that are not parent codes.
inline constexpr uint32_t dng_tag_contax_header = 0x40002;
inline constexpr uint32_t dng_tag_fuji_header = 0x40004;
inline constexpr uint32_t dng_tag_fuji_raw_info1 = 0x40005;
inline constexpr uint32_t dng_tag_fuji_raw_info2 = 0x40006;

// Sub-IFD codes 0x10000-0x1FFFF, chained 0x20000-0x2FFFF, maker notes
// 0x30000-0x3FFFF.
constexpr bool is_sub_ifd_parent(uint32_t parent) { return (parent >> 16) == 1; }
constexpr bool is_chained_ifd_parent(uint32_t parent) { return (parent >> 16) == 2; }
constexpr bool is_maker_note_parent(uint32_t parent) { return (parent >> 16) == 3; }

// The directory's display name: "IFD 0", "Exif IFD", ...; else "SubIFD %u"
// (code - 0xFFFF) for sub-IFD codes, "Chained IFD %u" (code - 0x1FFFF) for
// chained codes, "ParentIFD %u" otherwise.
const char* parent_ifd_name(uint32_t parent);

// The tag's name in the group the parent selects (main, GPS,
// Interoperability, Fuji RAF, Contax); without a match "CRW_%04X" (parent
// 0x40000), "MRW" and the code's four bytes (0x40008; bytes up to 31 as
// "_"), "RAF1_%04X" (0x40005), "RAF2_%04X" (0x40006), else "Tag%u".
const char* tag_code_name(uint32_t parent, uint32_t tag);

// "Byte", "ASCII", ... "Complex" for 1-15, else "Type%u".
const char* tag_type_name(uint32_t type);

// The kinds of tag value that have names.
enum class dng_value_kind : uint8_t {
  new_subfile_type,
  compression,
  photometric_interpretation,
  orientation,
  resolution_unit,  // also the focal-plane resolution unit
  cfa_color,        // fallback "Color%u"
  sensing_method,
  exposure_program,
  metering_mode,
  light_source,  // also the calibration illuminants; fallback "%uK" for bit 15
  color_space,
  file_source,
  scene_type,
  custom_rendered,
  exposure_mode,
  white_balance,
  scene_capture_type,
  gain_control,
  contrast,  // also Sharpness
  saturation,
  subject_distance_range,
  components_configuration,  // one entry
  cfa_layout,
  maker_note_safety,
  colorimetric_reference,
};
inline constexpr uint32_t dng_value_kind_count = 25;

// The value's name for its kind, else "%u" (or the kind's own fallback).
const char* tag_value_name(dng_value_kind kind, uint32_t value);
