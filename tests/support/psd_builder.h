// Writes PSD files byte by byte for the checker's tests: header, colour mode
// data, image resources, layer records with masks, blending ranges, names and
// additional data blocks, layer channel data raw or PackBits, and the merged
// image. Every length is computed from the content unless a test overrides
// it, so a test states only the one field it damages.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// Big-endian field writers.
void put_u8(std::string* out, uint8_t value);
void put_u16(std::string* out, uint16_t value);
void put_u32(std::string* out, uint32_t value);
// Overwrites four bytes at an offset with a big-endian value.
void poke_u32(std::string* data, size_t offset, uint32_t value);
void poke_u16(std::string* data, size_t offset, uint16_t value);

// PackBits-packs one row (repeat runs of 3 or more, literals otherwise).
std::string packbits(const std::string& row);

// Channel data: the 2-byte compression field and what follows it.
std::string raw_channel(const std::string& samples);
// RLE: the row byte counts, then the packed rows.
std::string rle_channel(const std::vector<std::string>& rows);

struct PsdResource {
  std::string type = "8BIM";
  uint16_t id = 0x0400;
  std::string name;
  std::string data;
  std::optional<uint32_t> size_override;
};

struct PsdExtraBlock {
  std::string signature = "8BIM";
  std::string key = "luni";
  std::string data;
  std::optional<uint32_t> length_override;
};

struct PsdRect {
  int32_t top = 0, left = 0, bottom = 0, right = 0;
};

// A layer mask record: the user mask (20 bytes), or with a real user mask
// (36 bytes), optionally followed by bytes the checker must skip.
struct PsdMask {
  PsdRect rect;
  uint8_t default_color = 0;
  uint8_t flags = 0;
  std::optional<PsdRect> real_rect;  // present: the 36-byte form
  std::string parameters;            // with flags bit 4: the parameter flag byte and values
  std::string trailing;              // further bytes the size counts
};

struct PsdLayer {
  PsdRect rect;
  struct Channel {
    int16_t id = 0;
    std::string data;  // compression field and data; the record's length is its size
    std::optional<uint32_t> length_override;
  };
  std::vector<Channel> channels;
  std::string blend_signature = "8BIM";
  std::string blend_key = "norm";
  uint8_t opacity = 255, clipping = 0, flags = 0;
  std::optional<PsdMask> mask;
  std::optional<uint32_t> mask_size_override;
  std::string blending_ranges;
  std::string name = "Layer";
  std::vector<PsdExtraBlock> extra;
  std::optional<uint32_t> extra_size_override;
};

// Offsets of the section boundaries of the last build, for tests that damage
// or cut a file at a known place.
struct PsdLayout {
  size_t color_mode_length = 0;     // the length field of the colour mode data
  size_t resources_length = 0;      // the length field of the image resources
  size_t layer_mask_length = 0;     // the length field of the layer and mask information
  size_t layer_info_length = 0;     // the layer information length (when layers are written)
  size_t layer_records = 0;         // the first layer record
  size_t channel_data = 0;          // the first layer's channel data
  size_t global_mask_length = 0;    // the global layer mask information length
  size_t image_data = 0;            // the merged image's compression field
  std::vector<size_t> boundaries;   // every field and block start, in file order
};

class PsdBuilder {
 public:
  // A valid file: channels x rows x columns at 8 bits, RGB when channels is
  // 3, raw merged image of a simple gradient (none beyond 16 MB of samples).
  PsdBuilder(uint16_t channels, uint32_t rows, uint32_t columns);

  // Header.
  std::string signature = "8BPS";
  uint16_t version = 1;
  uint16_t channels;
  uint32_t rows;
  uint32_t columns;
  uint16_t depth = 8;
  uint16_t mode = 3;

  std::string color_mode_data;
  std::vector<PsdResource> resources;

  // Layer and mask information. Nothing is written (length 0) unless
  // write_layer_section is set or layers are given.
  bool write_layer_section = false;
  std::vector<PsdLayer> layers;
  bool first_alpha_is_transparency = false;  // writes the layer count negative
  std::string layer_info_padding;           // bytes after the channel data, counted in the layer info length
  bool pad_layer_info = true;               // rounds the layer information to an even length
  std::string global_mask;                  // global layer mask information
  bool omit_global_mask = false;            // ends the section after the layer information
  std::string after_global_mask;            // further bytes counted in the section
  std::optional<uint32_t> layer_info_length_override;
  std::optional<uint32_t> layer_mask_length_override;
  std::optional<uint32_t> color_mode_length_override;
  std::optional<uint32_t> resources_length_override;

  // Merged image: compression and what follows it. set_raw_image and
  // set_rle_image fill it from per-channel rows.
  uint16_t image_compression = 0;
  std::string image_data;
  void set_raw_image(const std::vector<std::vector<std::string>>& channel_rows);
  void set_rle_image(const std::vector<std::vector<std::string>>& channel_rows);
  // The builder's own sample rows: row r of channel c holds (c * 40 + r + x) bytes.
  std::vector<std::vector<std::string>> sample_rows() const;

  std::string build(PsdLayout* layout = nullptr) const;
};

// A layer of the given rectangle whose channels (IDs 0 .. n-1, and -1 when
// alpha is set) hold packed rows of the rectangle's size.
PsdLayer rle_layer(PsdRect rect, int channels, bool alpha, const std::string& name);

// A printf-style print hook that appends to captured_print(), for tests that
// read a dump.
void capture_print(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string& captured_print();

}  // namespace testing_support
