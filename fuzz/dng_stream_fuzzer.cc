// Runs a script of stream operations over the bytes that follow it, and
// then the text conversions, the date parser and MD5 over the same bytes.
//
// Input: byte 0 holds flags (bit 0 big-endian, bits 1-7 the memory stream's
// page size), byte 1 the number of operations (at most 64), then 5 bytes
// per operation (a code and a 32-bit little-endian argument); the rest is
// the data.
//
// Every read runs on a view of the data and on a stream that reads the same
// bytes through its storage (windows, refills and reads straight into the
// caller); both must agree with each other and with the plain bytes. Writes
// go to a memory stream and are mirrored in a plain vector. Reads past the
// end must fail with 100011 after copying exactly the bytes that exist, and
// the storage is never asked for bytes outside it; a mismatch aborts.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dng/core/dng_byte_order_guard.h"
#include "dng/core/dng_date_time.h"
#include "dng/core/dng_errors.h"
#include "dng/core/dng_md5.h"
#include "dng/core/dng_memory_allocator.h"
#include "dng/core/dng_memory_block.h"
#include "dng/core/dng_memory_stream.h"
#include "dng/core/dng_stream.h"
#include "dng/core/dng_text.h"
#include "dng/core/dng_text_list.h"
#include "dng/core/dng_utf8.h"

namespace {

void check(bool ok) {
  if (!ok) abort();
}

// A stream that reads the data through the storage interface.
class StoredStream : public dng_stream {
 public:
  StoredStream(const uint8_t* data, uint32_t size)
      : dng_stream(static_cast<dng_cancel_hook*>(nullptr), kBufferSize, 0), data_(data), size_(size) {}

 protected:
  uint32_t StorageLength() override { return size_; }
  void StorageRead(void* out, uint32_t count, uint32_t offset) override {
    check(offset <= size_ && count <= size_ - offset);
    if (count != 0) memcpy(out, data_ + offset, count);
  }

 private:
  const uint8_t* data_;
  uint32_t size_;
};

// What one read did: the error code, the position after, and the value.
struct Outcome {
  int32_t code = 0;
  uint32_t position = 0;
  uint64_t value = 0;
  bool operator==(const Outcome&) const = default;
};

template <class F>
Outcome run(dng_stream& s, F&& read) {
  Outcome o;
  try {
    o.value = read(s);
  } catch (const dng_exception& e) {
    o.code = e.Code();
  }
  o.position = s.Position();
  return o;
}

uint64_t bits_of(double d) {
  uint64_t b;
  memcpy(&b, &d, 8);
  return b;
}

uint64_t pair(uint32_t a, uint32_t b) { return (uint64_t{a} << 32) | b; }

// One read operation on a stream; answers its value as 64 bits.
uint64_t read_value(dng_stream& s, uint32_t kind, uint32_t arg) {
  uint32_t type = arg & 0x1F;  // TIFF types 0-16 and beyond
  switch (kind % 10) {
    case 0:
      return s.GetUInt8();
    case 1:
      return s.GetUInt16();
    case 2:
      return s.GetUInt32();
    case 3:
      return bits_of(s.GetReal32());
    case 4:
      return bits_of(s.GetReal64());
    case 5:
      return s.TagValueAsUInt32(type);
    case 6:
      return static_cast<uint32_t>(s.TagValueAsInt32(type));
    case 7:
      return bits_of(s.TagValueAsReal64(type));
    case 8: {
      dng_unsigned_ratio r = s.TagValueAsURational(type);
      return pair(r.n, r.d);
    }
    default: {
      dng_signed_ratio r = s.TagValueAsSRational(type);
      return pair(static_cast<uint32_t>(r.n), static_cast<uint32_t>(r.d));
    }
  }
}

// GetBytes of any count into a destination that holds exactly the bytes
// that exist; checks them against the data.
void get_bytes(dng_stream& s, const uint8_t* data, uint32_t size, uint32_t count) {
  uint32_t position = s.Position();
  uint32_t available = position < size ? size - position : 0;
  uint32_t copied = count < available ? count : available;
  std::vector<uint8_t> out(copied);
  int32_t code = 0;
  try {
    s.GetBytes(out.data(), count);
  } catch (const dng_exception& e) {
    code = e.Code();
  }
  check(code == (count > available ? dng_code_end_of_file : 0));
  check(s.Position() == position + copied);
  check(copied == 0 || memcmp(out.data(), data + position, copied) == 0);
}

// The memory stream and its plain mirror.
struct Written {
  dng_memory_stream stream;
  std::vector<uint8_t> model;

  explicit Written(uint32_t page_size) : stream(default_memory_allocator, nullptr, page_size) {}

  uint32_t Position() const { return stream.Position(); }

  void Put(const uint8_t* bytes, uint32_t count) {
    uint32_t position = stream.Position();
    bool refused = count > UINT32_MAX - position;
    int32_t code = 0;
    try {
      stream.PutBytes(bytes, count);
    } catch (const dng_exception& e) {
      code = e.Code();
    }
    check(code == (refused && count != 0 ? dng_code_memory : 0));
    if (code != 0) {
      check(stream.Position() == position);
      return;
    }
    if (count == 0) return;
    if (model.size() < size_t{position} + count) model.resize(size_t{position} + count);
    memcpy(model.data() + position, bytes, count);
    check(stream.Position() == position + count);
  }

  void Read(uint32_t position, uint32_t count) {
    int32_t code = 0;
    try {
      stream.SeekForRead(position);
    } catch (const dng_exception& e) {
      code = e.Code();
    }
    check(code == (position > model.size() ? dng_code_end_of_file : 0));
    if (code != 0) return;
    get_bytes(stream, model.data(), static_cast<uint32_t>(model.size()), count);
  }

  void Verify() {
    check(stream.TotalLength() == model.size());
    dng_memory_block* block = stream.CopyToMemoryBlock(default_memory_allocator);
    check(block->Size() == model.size());
    check(model.empty() || memcmp(block->Buffer(), model.data(), model.size()) == 0);
    delete block;
  }
};

// Memory-stream positions stay within 512 pages (at most 64 KiB), except
// near 2^32 where every write must be refused before anything is allocated.
uint32_t write_span = 1u << 16;

uint32_t write_position(uint32_t arg) {
  return (arg & 0x80000000u) != 0 ? 0xFFFFFF00u + (arg & 0xFF) : arg % write_span;
}

void run_script(const uint8_t* script, uint32_t ops, const uint8_t* data, uint32_t size, bool big_endian,
                uint32_t page_size) {
  dng_stream view(data, size);
  StoredStream stored(data, size);
  view.SetByteSwapped(big_endian);
  stored.SetByteSwapped(big_endian);
  Written written(page_size);
  written.stream.SetByteSwapped(big_endian);

  for (uint32_t i = 0; i < ops; ++i) {
    uint8_t code = script[5 * i];
    uint32_t arg;
    memcpy(&arg, script + 5 * i + 1, 4);
    switch (code % 12) {
      case 0:  // seek for reading, anywhere
      case 1: {
        uint32_t position = code % 12 == 0 ? arg : arg % (size + 16);
        Outcome a = run(view, [&](dng_stream& s) {
          s.SeekForRead(position);
          return uint64_t{0};
        });
        Outcome b = run(stored, [&](dng_stream& s) {
          s.SeekForRead(position);
          return uint64_t{0};
        });
        check(a == b);
        check(a.code == (position > size ? dng_code_end_of_file : 0));
        break;
      }
      case 2:  // seek without a check, also far past the end
        view.SeekForWrite(arg);
        stored.SeekForWrite(arg);
        break;
      case 3:  // bytes: small, around the window, or hostile counts
      case 4: {
        uint32_t count = code % 12 == 3 ? arg : arg % 20000;
        get_bytes(view, data, size, count);
        get_bytes(stored, data, size, count);
        break;
      }
      case 5:  // typed getters and tag values
      case 6: {
        uint32_t kind = arg >> 8;
        Outcome a = run(view, [&](dng_stream& s) { return read_value(s, kind, arg); });
        Outcome b = run(stored, [&](dng_stream& s) { return read_value(s, kind, arg); });
        check(a == b);
        break;
      }
      case 7: {  // a read under nested byte-order guards
        bool before = view.IsByteSwapped();
        Outcome a;
        Outcome b;
        {
          TempBigEndian outer_view(view, (arg & 1) != 0);
          TempBigEndian outer_stored(stored, (arg & 1) != 0);
          TempLittleEndian inner_view(view);
          TempLittleEndian inner_stored(stored);
          a = run(view, [&](dng_stream& s) { return read_value(s, arg >> 8, arg); });
          b = run(stored, [&](dng_stream& s) { return read_value(s, arg >> 8, arg); });
        }
        check(a == b);
        check(view.IsByteSwapped() == before && stored.IsByteSwapped() == before);
        break;
      }
      case 8: {  // memory stream: write data bytes somewhere
        written.stream.SeekForWrite(write_position(arg));
        uint32_t count = (arg >> 20) % (size + 1);
        if ((arg & 0x80000000u) != 0) {
          // A count that crosses 2^32, with fewer bytes behind it than it
          // claims: the write must be refused without touching them.
          count = 0x100u + (arg & 0xFFF);
          int32_t refused = 0;
          try {
            written.stream.PutBytes(data, count);
          } catch (const dng_exception& e) {
            refused = e.Code();
          }
          check(refused == dng_code_memory);
        } else {
          written.Put(data, count);
        }
        break;
      }
      case 9: {  // memory stream: typed writes
        written.stream.SeekForWrite(arg % write_span);
        uint8_t bytes[8];
        memcpy(bytes, &arg, 4);
        memcpy(bytes + 4, &arg, 4);
        uint32_t position = written.Position();
        uint32_t n = 1u << (arg >> 29 & 3);  // 1, 2, 4 or 8 bytes
        switch (n) {
          case 1:
            written.stream.PutUInt8(bytes[0]);
            break;
          case 2: {
            uint16_t v;
            memcpy(&v, bytes, 2);
            written.stream.PutUInt16(big_endian ? __builtin_bswap16(v) : v);
            break;
          }
          case 4:
            written.stream.PutUInt32(big_endian ? __builtin_bswap32(arg) : arg);
            break;
          default: {
            double d;
            memcpy(&d, bytes, 8);
            written.stream.PutReal64(d);
            if (big_endian) {
              uint64_t b;
              memcpy(&b, bytes, 8);
              b = __builtin_bswap64(b);
              memcpy(bytes, &b, 8);
            }
            break;
          }
        }
        if (written.model.size() < size_t{position} + n) written.model.resize(size_t{position} + n);
        memcpy(written.model.data() + position, bytes, n);
        break;
      }
      case 10:  // memory stream: read back
        written.Read(arg % (write_span + 16), (arg >> 16) % 9000);
        break;
      default: {  // memory stream: resize, flush or copy out
        switch (arg % 3) {
          case 0: {
            uint32_t length = (arg >> 2) % write_span;
            written.stream.Resize(length);
            written.model.resize(length);
            break;
          }
          case 1:
            written.stream.FlushBuffer();
            break;
          default:
            written.Verify();
            break;
        }
        break;
      }
    }
  }
  written.Verify();
}

// The text operations over the data as a zero-terminated string.
void run_texts(const uint8_t* data, uint32_t size) {
  std::vector<char> bytes(data, data + size);
  bytes.push_back(0);
  const char* s = bytes.data();
  const char* end = s + strlen(s);

  for (const char* cursor = s; *cursor != 0;) {
    const char* before = cursor;
    next_utf8_code_point(cursor);
    check(cursor > before && cursor <= end);
  }

  dng_text text;
  text.Assign(s);
  check(text.ByteLength() == static_cast<uint32_t>(end - s));
  dng_text copy(text);
  copy.Concat(copy.CStr());
  check(copy.ByteLength() == 2 * text.ByteLength());
  check(copy.BeginsWith(text.CStr(), true));
  copy.Assign(copy.CStr() + text.ByteLength());
  check(copy.EqualsText(text.CStr(), true));
  copy.LimitBytes(size / 2);
  copy.NormalizeLineEnds(size % 2 ? '\n' : 0);
  copy.DropControlChars();
  copy.StripTrailingSpaces();
  copy.FoldToASCII();
  check(copy.AllASCII());

  dng_heap_buffer units;
  uint32_t n = text.ToUTF16Units(units);
  dng_text round;
  round.AssignUTF16(static_cast<const uint16_t*>(units.Buffer()));
  // Garbled sequences can decode to 0 (C1 40) and a leading FEFF or FFFE
  // is read as a byte-order mark; anything else comes back.
  const uint16_t* u = static_cast<const uint16_t*>(units.Buffer());
  check(n == 0 || u[0] == 0 || u[0] == 0xFEFF || u[0] == 0xFFFE || !round.Empty());

  dng_text converted;
  converted.AssignSystemCodePage(s);
  converted.AssignJISCodePage(s);
  converted.AssignASCIIOrSystem(s);

  // The data as UTF-16 units up to a zero unit.
  std::vector<uint16_t> u16(size / 2 + 1, 0);
  if (size >= 2) memcpy(u16.data(), data, (size / 2) * 2);
  u16.back() = 0;
  converted.AssignUTF16(u16.data());

  dng_text_list list;
  list.Append(text);
  list.Append(converted);
  list.InsertCopy(0, copy);
  check(list.Count() == 3 && list[1].EqualsText(text.CStr(), true));

  dng_calendar_time when;
  when.ParseExifText(s);
  if (when.InRange()) zone_offset_hours(when);

  dng_md5_context md5;
  md5.Feed(data, size);
  md5.Digest();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  bool big_endian = (data[0] & 1) != 0;
  uint32_t page_size = 1 + (data[0] >> 1) * 37;
  write_span = page_size * 512 < (1u << 16) ? page_size * 512 : (1u << 16);
  uint32_t ops = data[1] % 65;
  if (size - 2 < size_t{ops} * 5) ops = static_cast<uint32_t>((size - 2) / 5);
  const uint8_t* script = data + 2;
  size_t header = 2 + size_t{ops} * 5;
  const uint8_t* rest = data + header;
  uint32_t rest_size = static_cast<uint32_t>(size - header);
  run_script(script, ops, rest, rest_size, big_endian, page_size);
  run_texts(rest, rest_size);
  return 0;
}
