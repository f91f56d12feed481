#include "examine/psd_checker.h"

#include "util/str_append.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "examine/psd_limits.h"
#include "examine/psd_reader.h"

void psd_print_nothing(const char*, ...) {}

PsdPrintHook psd_print = psd_print_nothing;

namespace psd {
namespace {

// The failure of the current check; "" while there is none.
char g_error[kErrorTextBytes];
// What the work buffers of the last check grew to.
uint64_t g_work_bytes = 0;

// Sends formatted text to the hook. The silent hook costs no formatting. A
// zero byte printed with %c (names and signatures come from the file) would
// cut the line short in a printf-style hook, so the text goes out in pieces
// around it.
__attribute__((format(printf, 1, 2))) void out(const char* format, ...) {
  PsdPrintHook hook = psd_print;
  if (hook == psd_print_nothing) return;
  va_list args;
  va_start(args, format);
  std::string text = StrVFormat(format, args);
  va_end(args);
  for (size_t at = 0; at < text.size();) {
    size_t zero = text.find('\0', at);
    if (zero == std::string::npos) zero = text.size();
    if (zero > at) hook("%s", text.substr(at, zero - at).c_str());
    at = zero + 1;
  }
}

// Every failure passes here: the text goes into the error buffer (cut to 99
// characters) and through the hook. Gives false for the caller to return.
__attribute__((format(printf, 1, 2))) bool verificationError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(g_error, sizeof g_error, format, args);
  va_end(args);
  out("\nVerification Error: %s\n", g_error);
  return false;
}

// The dump prints 32-bit fields with %d as the file holds them.
int as_int(uint64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

const char* mode_name(int mode) {
  static constexpr const char* kNames[] = {
      "Bitmap (monochrome)", "Gray-scale", "Indexed color (palette color)", "RGB color", "CMYK color",
      "[unknown mode]",      "[unknown mode]", "Multichannel color", "Duotone (halftone)", "Lab color",
  };
  if (mode < 0 || mode > 9) return "[unknown mode]";
  return kNames[mode];
}

constexpr uint8_t kSignature8BIM[4] = {'8', 'B', 'I', 'M'};

// A rectangle as the file gives it: top, left, bottom, right.
struct Rect {
  int32_t top = 0, left = 0, bottom = 0, right = 0;
  bool present = false;
  uint64_t width() const { return static_cast<uint64_t>(int64_t{right} - left); }
  uint64_t height() const { return static_cast<uint64_t>(int64_t{bottom} - top); }
  bool inverted() const { return bottom < top || right < left; }
};

struct LayerChannel {
  int16_t id;
  uint32_t length;  // the compression field and the data
};

struct Layer {
  Rect rect;
  Rect mask;       // user mask (channel -2)
  Rect real_mask;  // real user mask (channel -3)
  size_t first_channel = 0;
  size_t channel_count = 0;
};

// One check over one source. Holds the header values the later sections
// need and the work buffers of this check.
class Checker {
 public:
  explicit Checker(PsdReader& reader) : in_(reader) {}
  ~Checker() {
    g_work_bytes = layers_.capacity() * sizeof(Layer) + layer_channels_.capacity() * sizeof(LayerChannel) +
                   row_lengths_.capacity() * sizeof(uint16_t) + kMaxPackedRowBytes;
  }
  Checker(const Checker&) = delete;
  Checker& operator=(const Checker&) = delete;

  bool run(const char* name);

 private:
  bool readRect(Rect* rect);
  bool readImageResourceBlock(uint64_t* block_size);
  bool readLayerAndMaskInfo(uint32_t section_length);
  bool readLayerRecord(int index, Layer* layer);
  bool readLayerMaskData(uint32_t size, Layer* layer);
  bool readAdditionalLayerData(int64_t remaining);
  bool readChannelImageData(uint64_t width, uint64_t height, uint32_t channel_length);
  bool readImageData();
  bool readRowLengths(uint64_t rows);
  uint64_t bytesPerRow(uint64_t width) const;

  PsdReader& in_;
  uint16_t channels_ = 0;
  uint32_t rows_ = 0;
  uint32_t columns_ = 0;
  uint16_t depth_ = 0;
  std::vector<Layer> layers_;
  std::vector<LayerChannel> layer_channels_;
  std::vector<uint16_t> row_lengths_;
  std::unique_ptr<uint8_t[]> row_ = std::make_unique_for_overwrite<uint8_t[]>(kMaxPackedRowBytes);
};

bool Checker::run(const char* name) {
  out("\n\nFile %s\n", name);
  out("\nHeader:\n");

  uint8_t signature[4];
  if (!in_.readBytes(signature, 4)) return verificationError("Failed to read signature");
  out("\tSignature: %c%c%c%c\n", signature[0], signature[1], signature[2], signature[3]);
  if (memcmp(signature, "8BPS", 4) != 0) {
    return verificationError("Bad Signature (%.4s) -- should be 8BPS", reinterpret_cast<const char*>(signature));
  }
  int16_t version;
  if (!in_.readShort(&version)) return verificationError("Failed to read version");
  uint8_t reserved[6];
  if (!in_.readBytes(reserved, 6)) return verificationError("Failed to read reserved");
  int16_t channels, depth, mode;
  uint32_t rows, columns;
  if (!in_.readShort(&channels)) return verificationError("Failed to read channels");
  if (!in_.readLong(&rows)) return verificationError("Failed to read rows");
  if (!in_.readLong(&columns)) return verificationError("Failed to read columns");
  if (!in_.readShort(&depth)) return verificationError("Failed to read depth");
  if (!in_.readShort(&mode)) return verificationError("Failed to read mode");
  channels_ = static_cast<uint16_t>(channels);
  rows_ = rows;
  columns_ = columns;
  depth_ = static_cast<uint16_t>(depth);
  out("\tVersion: %d\n", version);
  out("\tReserved: %d %d %d %d %d %d\n", reserved[0], reserved[1], reserved[2], reserved[3], reserved[4],
      reserved[5]);
  out("\tChannels: %d\n", channels_);
  out("\tRows: %d\n", as_int(rows));
  out("\tColumns: %d\n", as_int(columns));
  out("\tDepth: %d\n", depth_);
  out("\tMode: %d", mode);
  out(" (%s)\n", mode_name(mode));

  out("\nColor Mode Data Block (at %d):\n", as_int(in_.position()));
  uint32_t color_length;
  if (!in_.readLong(&color_length)) return verificationError("Failed to read Color Mode Data Block length");
  out("\tlength: %d\n", as_int(color_length));
  // Indexed documents hold their palette here, duotone documents their
  // curves, and 32-bit documents data of their own; other modes hold none.
  if (mode == 2) {
    if (color_length != 768) return verificationError("Wrong length -- supposed to be 768 when mode is 2");
  } else if (mode != 8 && depth_ != 32 && color_length != 0) {
    return verificationError("Wrong length -- supposed to be 0");
  }
  if (!in_.skipBytes(color_length)) return verificationError("Can't seek (1)");

  out("\nImage Resource Blocks (at %d):\n", as_int(in_.position()));
  uint32_t resources_length;
  if (!in_.readLong(&resources_length)) return verificationError("Failed to read Image Resource Block length");
  out("\tlength: %d\n", as_int(resources_length));
  // Each block consumes at least its 12-byte header, so the loop ends.
  uint64_t total = 0;
  while (total < resources_length) {
    uint64_t block_size = 0;
    if (!readImageResourceBlock(&block_size)) return false;
    total += block_size;
  }
  if (total != resources_length) {
    return verificationError("IRBs total %d bytes; should be %d", as_int(total), as_int(resources_length));
  }

  out("\nLayer and Mask Information (at %d):\n", as_int(in_.position()));
  uint32_t layer_mask_length;
  if (!in_.readLong(&layer_mask_length)) {
    return verificationError("Failed to read Layer and Mask Information length");
  }
  out("\tLayer and Mask length: %d\n", as_int(layer_mask_length));
  if (layer_mask_length > 0) {
    PsdSection section(in_, layer_mask_length);
    if (!readLayerAndMaskInfo(layer_mask_length)) return false;
  }

  // The merged image follows the header (26 bytes), the three lengths and
  // what they count, wherever the layer walk stopped.
  uint64_t image_data = 26 + 12 + uint64_t{color_length} + resources_length + layer_mask_length;
  if (!in_.seekTo(image_data)) return verificationError("Failed to get compression for image data");
  return readImageData();
}

bool Checker::readRect(Rect* rect) {
  uint32_t top, left, bottom, right;
  if (!in_.readLong(&top) || !in_.readLong(&left) || !in_.readLong(&bottom) || !in_.readLong(&right)) return false;
  rect->top = static_cast<int32_t>(top);
  rect->left = static_cast<int32_t>(left);
  rect->bottom = static_cast<int32_t>(bottom);
  rect->right = static_cast<int32_t>(right);
  rect->present = true;
  return true;
}

bool Checker::readImageResourceBlock(uint64_t* block_size) {
  uint8_t type[4];
  if (!in_.readBytes(type, 4)) return verificationError("Failed to read Image Resource Block Type");
  if (memcmp(type, kSignature8BIM, 4) != 0) {
    out("Bad Type %.4s -- should be 8BIM", reinterpret_cast<const char*>(type));
  }
  uint16_t id;
  if (!in_.readUShort(&id)) return verificationError("Failed to read Image Resource Block ID");
  uint8_t name_length;
  if (!in_.readByte(&name_length)) return verificationError("Failed to read Image Resource Block name Len");
  char name[kMaxNameBytes + 1];
  if (!in_.readBytes(name, name_length)) return verificationError("Failed to read Image Resource Block name");
  name[name_length] = '\0';
  // The length byte and the name fill an even number of bytes.
  uint64_t name_field = 1 + uint64_t{name_length};
  if (name_field % 2 != 0) {
    if (!in_.skipBytes(1)) return verificationError("Can't seek (2)");
    ++name_field;
  }
  uint32_t size;
  if (!in_.readLong(&size)) return verificationError("Failed to read Image Resource Block size");
  uint64_t padded = uint64_t{size} + (size % 2);
  if (!in_.skipBytes(padded)) return verificationError("Can't seek (3)");
  out("\tType: %c%c%c%c; ID = 0x%x; Name: %s; size: %d\n", type[0], type[1], type[2], type[3], id, name,
      as_int(size));
  *block_size = 4 + 2 + name_field + 4 + padded;
  return true;
}

// Runs inside the section the Layer and Mask Information length announces
// (cut short where the file ends).
bool Checker::readLayerAndMaskInfo(uint32_t section_length) {
  uint32_t info_length;
  if (!in_.readLong(&info_length)) return verificationError("Failed to read Layer Information length");
  out("\tLayer Info length: %d\n", as_int(info_length));
  const uint64_t start = in_.position();
  // Measured against the announced section; where the file ends first, the
  // reads that cross the end say which field is missing.
  const uint32_t section_left = section_length - 4;
  if (info_length > section_left) {
    return verificationError("Layer Info length (%u) runs past its section (%u bytes left)", info_length,
                             section_left);
  }
  if (info_length > 0) {
    PsdSection section(in_, info_length);
    int16_t count;
    if (!in_.readShort(&count)) return verificationError("Failed to read number of layers");
    const int layer_count = std::abs(int{count});
    out("\tNumber of layers: %d\n", layer_count);
    out("\tFirst alpha channel contains the transparency data: %s\n", count < 0 ? "true" : "false");
    // The tables grow only as records are read, so a count the section
    // cannot hold never reaches the allocator.
    layers_.clear();
    layer_channels_.clear();
    for (int i = 0; i < layer_count; ++i) {
      Layer layer;
      if (!readLayerRecord(i, &layer)) return false;
      layers_.push_back(layer);
    }
    for (size_t i = 0; i < layers_.size(); ++i) {
      const Layer& layer = layers_[i];
      out("\n\tLayer %d Channel Data:\n", static_cast<int>(i));
      for (size_t c = 0; c < layer.channel_count; ++c) {
        const LayerChannel& channel = layer_channels_[layer.first_channel + c];
        out("\t\tChannel %d\n", static_cast<int>(c));
        // The user mask (-2) and the real user mask (-3) have rectangles of
        // their own; every other channel covers the layer's rectangle.
        const Rect* rect = &layer.rect;
        if (channel.id == -2 && layer.mask.present) rect = &layer.mask;
        if (channel.id == -3 && layer.real_mask.present) rect = &layer.real_mask;
        if (!readChannelImageData(rect->width(), rect->height(), channel.length)) return false;
      }
    }
    out("\n\tLayer Image Data not checked\n");
  }

  const uint64_t read = in_.position() - start;
  if (read != info_length) {
    out("\t(Layer Info len doesn't match length of layer data (%d %d; diff = %d))\n", as_int(info_length),
        as_int(read), as_int(info_length - read));
  }
  if (in_.position() % 2 != 0 && in_.remaining() > 0) {
    out("\t(Seeking to even location)\n");
    in_.skipBytes(1);
  }
  // Writers that leave out the global layer mask information end the
  // section here, or leave fewer bytes than its length field takes; that is
  // no failure.
  if (in_.remaining() < 4) {
    out("\t(No global layer mask information: %d bytes left in the section)\n", as_int(in_.remaining()));
    return true;
  }

  uint32_t global_length;
  if (!in_.readLong(&global_length)) return verificationError("Failed to read GlobalLayerMaskInfoLen");
  out("\tGlobalLayerMaskInfoLen: %d\n", as_int(global_length));
  if (global_length > 0 && !in_.skipBytes(global_length)) {
    return verificationError("Failed to seek past GlobalLayerMaskInfo");
  }
  return true;
}

bool Checker::readLayerRecord(int index, Layer* layer) {
  out("\n\tLayer %d\n", index);
  uint16_t channel_count;
  if (!readRect(&layer->rect) || !in_.readUShort(&channel_count)) {
    return verificationError("Failed to read layer info (1)");
  }
  const Rect& r = layer->rect;
  out("\t\tRect: %d %d %d %d; channels: %d\n", r.top, r.left, r.bottom, r.right, channel_count);
  if (r.inverted()) return verificationError("Bad layer rectangle (%d %d %d %d)", r.top, r.left, r.bottom, r.right);
  layer->first_channel = layer_channels_.size();
  layer->channel_count = channel_count;
  for (int c = 0; c < channel_count; ++c) {
    LayerChannel channel;
    if (!in_.readShort(&channel.id) || !in_.readLong(&channel.length)) {
      return verificationError("Failed to read channel len data");
    }
    out("\t\t\tChannel %d: ID = %d; channelLen = %d\n", c, channel.id, as_int(channel.length));
    layer_channels_.push_back(channel);
  }

  uint8_t blend[9] = {};
  if (!in_.readBytes(blend, 8)) return verificationError("Failed to read blend mode sig and key");
  out("\t\tBlend Mode Signature: ");
  if (blend[0] != 0 && blend[1] != 0 && blend[2] != 0 && blend[3] != 0) {
    out("%c%c%c%c\n", blend[0], blend[1], blend[2], blend[3]);
  } else {
    out("(%d %d %d %d)\n", blend[0], blend[1], blend[2], blend[3]);
  }
  if (blend[0] != 0 && memcmp(blend, kSignature8BIM, 4) != 0) {
    return verificationError("Bad Blend Mode Signature (%.4s) -- should be 8BIM", reinterpret_cast<char*>(blend));
  }
  out("\t\tBlend Mode Key: %s\n", reinterpret_cast<char*>(blend + 4));

  uint8_t opacity, clipping, flags;
  if (!in_.readByte(&opacity) || !in_.readByte(&clipping) || !in_.readByte(&flags)) {
    return verificationError("Failed to read opacity, clipping, or flags");
  }
  out("\t\topacity, clipping, flags: %d %d %d\n", opacity, clipping, flags);
  if (!in_.skipBytes(1)) return verificationError("Failed to read pad byte");

  uint32_t extra_size;
  if (!in_.readLong(&extra_size)) return verificationError("Failed to read Extra Data Size");
  out("\t\tExtra Data Size: %d\n", as_int(extra_size));
  // What the extra data holds is counted against its size; a part that
  // claims more than is left of it makes the additional data's length wrong.
  int64_t left = extra_size;

  uint32_t mask_size;
  if (!in_.readLong(&mask_size)) return verificationError("Failed to read Layer Mask Size");
  out("\t\tLayer Mask Data Size: %d\n", as_int(mask_size));
  left -= 4;
  if (int64_t{mask_size} > left) return verificationError("Additional layer data has wrong length");
  if (!readLayerMaskData(mask_size, layer)) return false;
  left -= mask_size;

  uint32_t ranges_length;
  if (!in_.readLong(&ranges_length)) return verificationError("Failed to read layerBlendingRangeslen");
  out("\t\tLayer Blending Ranges Length: %d\n", as_int(ranges_length));
  left -= 4;
  if (int64_t{ranges_length} > left) return verificationError("Additional layer data has wrong length");
  if (!in_.skipBytes(ranges_length)) return verificationError("Failed to seek past Layer Blending Ranges");
  left -= ranges_length;

  uint8_t name_length;
  if (!in_.readByte(&name_length)) return verificationError("Failed to read layer name Len");
  char name[kMaxNameBytes + 1];
  if (!in_.readBytes(name, name_length)) return verificationError("Failed to read layer name");
  name[name_length] = '\0';
  out("\t\tLayer name: %s\n", name);
  // The length byte and the name fill a multiple of 4 bytes.
  const uint64_t name_field = (1 + uint64_t{name_length} + 3) / 4 * 4;
  if (!in_.skipBytes(name_field - 1 - name_length)) return verificationError("Failed to seek past layer name");
  left -= static_cast<int64_t>(name_field);

  return readAdditionalLayerData(left);
}

// Reads the fields the mask record's size announces and skips the rest: the
// user mask rectangle, default colour and flags; mask parameters when the
// flags say so; then, in records longer than 20 bytes, the real user mask's
// flags, background and rectangle.
bool Checker::readLayerMaskData(uint32_t size, Layer* layer) {
  const uint64_t record_end = in_.position() + size;
  {
    PsdSection section(in_, size);
    if (size >= kMaskRecordMinBytes) {
      if (!readRect(&layer->mask)) return verificationError("Failed to layer mask rectangle");
      const Rect& m = layer->mask;
      out("\t\tLayer Mask Rect: %d %d %d %d\n", m.top, m.left, m.bottom, m.right);
      if (m.inverted()) {
        return verificationError("Bad layer mask rectangle (%d %d %d %d)", m.top, m.left, m.bottom, m.right);
      }
      uint8_t color, flags;
      if (!in_.readByte(&color)) return verificationError("Failed to read default color");
      out("\t\tDefault color: %d\n", color);
      if (!in_.readByte(&flags)) return verificationError("Failed to read flags");
      out("\t\tFlags: %d\n", flags);
      bool fields_fit = true;
      if ((flags & 0x10) != 0) {
        // Parameters: a flag byte, then a density (1 byte) or a feather
        // (8 bytes) for the user mask and for the vector mask.
        uint8_t which = 0;
        fields_fit = in_.readByte(&which);
        const uint64_t bytes = ((which & 1) ? 1 : 0) + ((which & 2) ? 8 : 0) + ((which & 4) ? 1 : 0) +
                               ((which & 8) ? 8 : 0);
        fields_fit = fields_fit && in_.skipBytes(bytes);
      }
      if (fields_fit && size > 20 && in_.remaining() >= kMaskRecordMinBytes) {
        uint8_t real_flags, real_background;
        if (in_.readByte(&real_flags) && in_.readByte(&real_background) && readRect(&layer->real_mask)) {
          const Rect& m2 = layer->real_mask;
          if (m2.inverted()) {
            return verificationError("Bad layer mask rectangle (%d %d %d %d)", m2.top, m2.left, m2.bottom,
                                     m2.right);
          }
        }
      }
    }
  }
  if (!in_.seekTo(record_end)) return verificationError("Failed to read pad bytes");
  return true;
}

bool Checker::readAdditionalLayerData(int64_t remaining) {
  out("\n\t\tAdditional Layer Data\n");
  // Each block consumes at least its 12-byte header, so the loop ends.
  while (remaining > 0) {
    uint8_t signature[4], key[4];
    if (!in_.readBytes(signature, 4)) return verificationError("Failed to read extra signature");
    if (memcmp(signature, kSignature8BIM, 4) != 0) {
      return verificationError("Extra layer info has bad signature (%.4s)", reinterpret_cast<char*>(signature));
    }
    if (!in_.readBytes(key, 4)) return verificationError("Failed to read extra key");
    uint32_t length;
    if (!in_.readLong(&length)) return verificationError("Failed to read extra stuff len");
    out("\t\t\tKey = %.4s; len = %d\n", reinterpret_cast<char*>(key), as_int(length));
    remaining -= 12;
    if (int64_t{length} > remaining) break;  // runs past the layer's extra data
    if (!in_.skipBytes(length)) return verificationError("Failed to seek past extra data");
    remaining -= length;
  }
  if (remaining != 0) return verificationError("Additional layer data has wrong length");
  return true;
}

uint64_t Checker::bytesPerRow(uint64_t width) const {
  // Samples are depth bits wide and every row starts on a byte.
  return (saturating_multiply(width, depth_) + 7) / 8;
}

bool Checker::readRowLengths(uint64_t rows) {
  // Refused before allocating: the table must be in the bytes that are left.
  if (saturating_multiply(rows, kRowLengthBytes) > in_.remaining()) return false;
  row_lengths_.resize(rows);
  for (uint64_t i = 0; i < rows; ++i) {
    if (!in_.readUShort(&row_lengths_[i])) return false;
  }
  return true;
}

bool Checker::readChannelImageData(uint64_t width, uint64_t height, uint32_t channel_length) {
  int16_t compression;
  if (!in_.readShort(&compression)) return verificationError("Failed to read compression in channel image data");
  out("\t\t\tCompression: %d\n", compression);
  if (compression == 0) {
    if (!in_.skipBytes(saturating_multiply(height, bytesPerRow(width)))) {
      return verificationError("Failed to read channel image data");
    }
  } else if (compression == 1) {
    if (!readRowLengths(height)) return verificationError("Failed to read RLE line count");
    for (uint64_t i = 0; i < height; ++i) {
      uint16_t length = row_lengths_[i];
      if (!in_.readBytes(row_.get(), length)) {
        return verificationError("Failed to read RLE packed data line (reading %d bytes)", length);
      }
      checkPackedLine(row_.get(), length);
    }
  } else if (channel_length > 2) {
    // Other compressions are passed over: their data is skipped unread.
    if (!in_.skipBytes(channel_length - 2)) return verificationError("Failed to read channel image data");
  }
  return true;
}

bool Checker::readImageData() {
  out("\nImage Data (at %d):\n", as_int(in_.position()));
  int16_t compression;
  if (!in_.readShort(&compression)) return verificationError("Failed to get compression for image data");
  out("\tCompression: %d\n", compression);
  const uint64_t rows = saturating_multiply(channels_, rows_);
  const uint64_t row_bytes = bytesPerRow(columns_);
  const uint64_t expected = saturating_multiply(rows, row_bytes);
  uint64_t expanded = 0;
  if (compression == 0) {
    if (!in_.skipBytes(expected)) return verificationError("Failed to read channel image data");
    expanded = expected;
  } else if (compression == 1) {
    if (!readRowLengths(rows)) return verificationError("Failed to read RLE line count");
    for (uint64_t i = 0; i < rows; ++i) {
      uint16_t length = row_lengths_[i];
      if (!in_.readBytes(row_.get(), length)) return verificationError("Failed to read RLE packed data line");
      uint64_t width = checkPackedLine(row_.get(), length);
      if (width != row_bytes) {
        return verificationError("Wrong expanded width (columns = %d; expanded = %d)", as_int(row_bytes),
                                 as_int(width));
      }
      expanded += width;
    }
  } else {
    return verificationError("Invalid compression code in channel image data");
  }
  if (expanded != expected) {
    return verificationError("Wrong amt of expanded data: expanded = %d; rows * columns * channels = %d",
                             as_int(expanded), as_int(expected));
  }
  out("\tImage Data OK\n");
  return true;
}

bool verify(PsdSource* source, const char* name, const char** error) {
  g_error[0] = '\0';
  if (error != nullptr) *error = g_error;
  if (source == nullptr) {
    fprintf(stderr, "ERROR: %s\n", "can't open");
    return verificationError("can't open");
  }
  PsdReader reader(*source);
  Checker checker(reader);
  return checker.run(name);
}

}  // namespace

uint64_t lastCheckWorkBytes() { return g_work_bytes; }

}  // namespace psd

uint64_t checkPackedLine(const uint8_t* data, size_t length) {
  uint64_t expanded = 0;
  size_t at = 0;
  while (at < length) {
    const int n = static_cast<int8_t>(data[at]);
    if (n >= 0) {
      const size_t literal = static_cast<size_t>(n) + 1;
      if (literal > length - at - 1) break;
      expanded += literal;
      at += 1 + literal;
    } else if (n == -128) {
      at += 1;
    } else {
      if (length - at < 2) break;
      expanded += static_cast<uint64_t>(1 - n);
      at += 2;
    }
  }
  return expanded;
}

bool verifyPSD(const char* path, const char** error) {
  std::unique_ptr<psd::PsdFileSource> file = psd::PsdFileSource::open(path);
  return psd::verify(file.get(), path, error);
}

bool verifyPSDMemory(const uint8_t* data, size_t size, const char* name, const char** error) {
  psd::PsdMemorySource memory(data, size);
  return psd::verify(&memory, name, error);
}
