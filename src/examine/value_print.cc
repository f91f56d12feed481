#include "examine/value_print.h"

#include "examine/byte_reader.h"

namespace {

constexpr uint32_t kMaxPrintedValues = 11;
constexpr uint32_t kMaxPrintedCharacters = 201;

bool printable(uint8_t c) { return c >= 0x20 && c <= 0x7e; }

}  // namespace

void print_values(PrintFn print, bool big_endian, const uint8_t* value, size_t length, int type,
                  uint32_t count) {
  if (value == nullptr || length == 0) {
    print("[NULL]\n");
    return;
  }
  const uint32_t limit = type == 2 ? kMaxPrintedCharacters : kMaxPrintedValues;
  const uint32_t size = tiff_type_size(type) == 0 ? 1 : tiff_type_size(type);
  const uint8_t* p = value;
  for (uint32_t i = 0; i < count; ++i) {
    if (i >= limit) {
      print("...");
      break;
    }
    if (size > length - static_cast<size_t>(p - value)) break;  // the bytes end before the count
    char text[400];  // "%f" of the largest double has 316 characters
    switch (type) {
      case 1:
      case 7:
        print("%u ", unsigned{p[0]});
        break;
      case 2:
        if (p[0] != 0) {
          if (printable(p[0])) {
            print("%c", p[0]);
          } else {
            print("?");
          }
        }
        break;
      case 3:
        print("%u ", unsigned{get_u16(p, big_endian)});
        break;
      case 4:
        print("%u ", get_u32(p, big_endian));
        break;
      case 5:
        print("%u/%u ", get_u32(p, big_endian), get_u32(p + 4, big_endian));
        break;
      case 6:
        print("%d ", int{static_cast<int8_t>(p[0])});
        break;
      case 8:
        print("%d ", int{static_cast<int16_t>(get_u16(p, big_endian))});
        break;
      case 9:
        print("%d ", static_cast<int32_t>(get_u32(p, big_endian)));
        break;
      case 10:
        print("%d/%d ", static_cast<int32_t>(get_u32(p, big_endian)),
              static_cast<int32_t>(get_u32(p + 4, big_endian)));
        break;
      case 11:
        format_c(text, sizeof text, "%f", static_cast<double>(get_float(p, big_endian)));
        print("%s ", text);
        break;
      case 12:
        format_c(text, sizeof text, "%f", get_double(p, big_endian));
        print("%s ", text);
        break;
      default:
        print("[?] ");
        break;
    }
    p += size;
  }
  print("\n");
}

void print_iptc(PrintFn print, const uint8_t* bytes, size_t length) {
  ByteReader in(bytes, length, true);
  while (in.has(5)) {
    uint8_t marker = 0, record = 0, dataset = 0;
    uint16_t data_length = 0;
    in.u8(&marker);
    in.u8(&record);
    in.u8(&dataset);
    in.u16(&data_length);
    const uint8_t* data;
    if (!in.bytes(data_length, &data)) break;
    if (record == 2 && dataset == 25) {
      print("\t\t\t\tKeyword: ");
      for (uint16_t i = 0; i < data_length; ++i) print("%c", data[i]);
      print("\n");
    } else if (record == 2 && dataset == 0) {
      if (data_length == 2) print("\t\t\t\tRecord Version = %d\n", int{get_u16(data, true)});
    } else {
      print("\t\t\ttag=%d rcd=%d ds=%d count=%u\n", int{marker}, int{record}, int{dataset},
            unsigned{data_length});
    }
  }
}
