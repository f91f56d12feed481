// Writes DNG files byte by byte for the DNG parser's tests, on top of the
// TiffBuilder: directories with their entries sorted by tag (unless asked
// otherwise), chained directories and SubIFDs, EXIF, GPS and
// Interoperability directories, maker notes in every layout the parser
// recognises, DNGPrivateData sections, XMP and IPTC blocks and a 16 x 16
// uncompressed CFA or LinearRaw image. After layout any entry count, value
// field or named length can be overwritten, so a test states its damage in a
// line.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

// Maker-note layouts: the signature kinds carry their own header; the make
// kinds are plain directories recognised by the camera make in IFD 0.
enum class MakerNoteKind {
  kEpson,
  kFujifilm,
  kLeica,
  kNikon,
  kOlympus,
  kPanasonic,
  kPentax,
  kRicoh,
  kMakeNikon,
  kMakeCanon,
  kMakeMinolta,
  kMakeKonicaMinolta,
  kMakeSony,
  kMakeKodak,
  kMamiya,
};

struct MakerNoteSpec {
  MakerNoteKind kind = MakerNoteKind::kMakeCanon;
  // Byte order of the maker note's own mark (Nikon, Pentax); the other
  // kinds follow the order of the stream they sit in (Ricoh: big-endian).
  bool own_big_endian = false;
  // Mamiya: directories in the chain, and whether the last links back to
  // the first.
  int mamiya_directories = 1;
  bool mamiya_loop = false;
  // Olympus: a sub-directory under maker-note tag 8208.
  bool olympus_subdirectory = false;
  // Ricoh: a camera-info block under maker-note tag 0x2001.
  bool ricoh_camera_info = false;
};

// The camera make (tag 271) that a make kind needs, empty for the others.
std::string maker_note_make(MakerNoteKind kind);
// Every kind, for tables.
std::vector<MakerNoteKind> all_maker_note_kinds();
const char* maker_note_kind_name(MakerNoteKind kind);

// The bytes of a maker note that will stand at stream position p, in a
// stream of the given order whose parser adds delta d to stored offsets
// (the TIFF block offset for a maker note in the EXIF IFD, minus the
// original offset for one inside DNGPrivateData). Each directory holds an
// inline SHORT 0x0001 = 7 and an out-of-line ASCII 0x0002 "maker note".
std::string maker_note_bytes(const MakerNoteSpec& spec, bool stream_big_endian, uint32_t p, int64_t d);

// One DNGPrivateData section: a four-character key and its body.
struct PrivateSection {
  std::string key;
  std::string body;
  std::optional<uint32_t> length_raw;  // written in place of body.size()
};

// Section bodies. The private data are big-endian; mark_big_endian is the
// order that the section's own "MM"/"II" mark selects.
PrivateSection makn_section(const MakerNoteSpec& note, bool mark_big_endian, uint32_t original_offset);
PrivateSection sr2_section(bool mark_big_endian);
PrivateSection raf_section(bool mark_big_endian, const std::vector<std::string>& blocks);
PrivateSection cntx_section(bool mark_big_endian, const std::string& header);
// A tag block ("CRW ", "KDC ", "Koda", "Leaf", "MRW ", "Pano") holding
// one ASCII entry (type 2, or UNDEFINED where the block has no type field)
// and one SHORT entry.
PrivateSection tag_block_section(const std::string& key, bool mark_big_endian);
// The DNGPrivateData bytes: the six-byte signature and the sections.
std::string private_data_bytes(const std::vector<PrivateSection>& sections);

class DngBuilder {
 public:
  // Makes IFD 0.
  explicit DngBuilder(bool big_endian = false);

  bool big_endian() const { return big_endian_; }
  static constexpr int kIfd0 = 0;

  int add_ifd();
  void set_next(int ifd, int target);
  void set_next_raw(int ifd, uint32_t offset);
  // Entries are written as added instead of sorted.
  void keep_entry_order(int ifd);

  void add(int ifd, uint16_t tag, uint16_t type, uint32_t count, const std::string& value_bytes);
  void add_raw(int ifd, uint16_t tag, uint16_t type, uint32_t count, uint32_t field);
  void add_byte(int ifd, uint16_t tag, const std::vector<uint8_t>& values);
  void add_undefined(int ifd, uint16_t tag, const std::string& bytes);
  void add_short(int ifd, uint16_t tag, const std::vector<uint16_t>& values);
  void add_long(int ifd, uint16_t tag, const std::vector<uint32_t>& values);
  void add_ascii(int ifd, uint16_t tag, const std::string& text, bool terminate = true);
  void add_rational(int ifd, uint16_t tag, const std::vector<std::pair<uint32_t, uint32_t>>& values);
  void add_srational(int ifd, uint16_t tag, const std::vector<std::pair<int32_t, int32_t>>& values);
  void remove(int ifd, uint16_t tag);

  // SubIFDs (330) of parent; each child is a directory made by add_ifd.
  void add_subifds(int parent, const std::vector<int>& children);
  // The EXIF (34665) and GPS (34853) directories of IFD 0 and the
  // Interoperability (40965) directory of the EXIF directory; made on first
  // use.
  int exif_ifd();
  int gps_ifd();
  int interop_ifd();

  // The DNG tags of IFD 0: DNGVersion, DNGBackwardVersion (left out when
  // 0), UniqueCameraModel, Make, ColorMatrix1 (for 3 colour planes),
  // AsShotNeutral, CalibrationIlluminant1.
  void add_dng_tags(uint32_t version = 0x01010000, uint32_t backward = 0x01010000, const std::string& make = "Corvella");
  // A 16 x 16 uncompressed 16-bit image with a default crop of 2,2 + 12x12
  // (no padding warnings): CFA RGGB or 3-sample LinearRaw, one strip or one
  // 16 x 16 tile. Writes NewSubFileType 0.
  void add_cfa_image(int ifd, bool tiled = false);
  void add_linear_raw_image(int ifd, bool tiled = false);
  // A small 8-bit RGB preview (NewSubFileType 1).
  void add_rgb_preview(int ifd);

  // Image data of any layout: bytes appended to the pixel data at the end
  // of the file (returns where they start, relative to that data), and a
  // LONG offset array (StripOffsets, TileOffsets) whose values are such
  // relative positions, made absolute when the file is built.
  uint32_t append_image_data(const std::string& bytes);
  void add_image_offsets(int ifd, uint16_t tag, const std::vector<uint32_t>& relative);

  // The maker note (37500) of the EXIF directory; the make kinds also set
  // the camera make in IFD 0.
  void add_maker_note(const MakerNoteSpec& spec);
  void add_private_data(const std::vector<PrivateSection>& sections);
  void add_xmp(int ifd, const std::string& packet);
  void add_iptc(int ifd, const std::string& block);

  // Overwrites applied after layout.
  void set_count(int ifd, uint16_t tag, uint32_t count);
  void set_field(int ifd, uint16_t tag, uint32_t field);
  void set_entry_count(int ifd, uint16_t count);
  void set_magic(uint16_t magic);
  void set_first_offset_raw(uint32_t offset);
  void patch_u32(uint32_t position, uint32_t value, bool big_endian);

  std::string build();

  // After build: where things landed.
  uint32_t ifd_offset(int ifd) const;
  uint32_t entry_position(int ifd, uint16_t tag) const;  // the 12-byte entry
  uint32_t value_position(int ifd, uint16_t tag) const;  // its value bytes
  // Named positions: "image" (pixel data), "makernote", "private" (the
  // DNGPrivateData bytes), "private.<i>.length" (a section's length field).
  uint32_t mark(const std::string& name) const { return marks_.at(name); }
  const std::map<std::string, uint32_t>& marks() const { return marks_; }
  // Positions at which a directory or an out-of-line value begins or ends,
  // for truncation tables.
  std::vector<uint32_t> boundaries() const { return boundaries_; }

  std::string u16(uint16_t v) const;
  std::string u32(uint32_t v) const;

 private:
  enum class Kind { kValue, kRaw, kPointer, kMakerNote, kImageOffset };
  struct Entry {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    std::string value;
    uint32_t field = 0;
    std::vector<int> targets;
    Kind kind = Kind::kValue;
  };
  struct Ifd {
    std::vector<Entry> entries;
    std::optional<int> next;
    std::optional<uint32_t> next_raw;
    std::optional<uint16_t> count_raw;
    bool keep_order = false;
  };
  struct Override {
    int ifd;
    uint16_t tag;
    bool count;
    uint32_t value;
  };
  void add_image(int ifd, bool cfa, bool tiled);
  const Entry* find(int ifd, uint16_t tag) const;
  int entry_index(int ifd, uint16_t tag) const;

  bool big_endian_;
  uint16_t magic_ = 42;
  std::optional<uint32_t> first_raw_;
  std::vector<Ifd> ifds_;
  std::optional<int> exif_, gps_, interop_;
  std::optional<MakerNoteSpec> maker_note_;
  std::string image_;  // pixel bytes placed at the end of the file
  std::vector<Override> overrides_;
  std::vector<std::pair<uint32_t, std::pair<uint32_t, bool>>> patches_;
  std::vector<PrivateSection> private_sections_;
  // Relative offsets of the kImageOffset entries with more than one value.
  std::map<std::pair<int, uint16_t>, std::vector<uint32_t>> image_offset_arrays_;
  // Results of the last build.
  std::vector<uint32_t> ifd_offsets_;
  std::vector<std::vector<uint16_t>> written_order_;
  std::string last_;
  std::map<std::string, uint32_t> marks_;
  std::vector<uint32_t> boundaries_;
};

}  // namespace testing_support
