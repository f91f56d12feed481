#include "examine/value_print.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <string>

#include "examine_harness.h"
#include "support/comma_locale.h"

namespace {

using examine_test::print_to_string;
using examine_test::printed;

std::string values_text(bool big_endian, const std::string& bytes, int type, uint32_t count) {
  printed().clear();
  print_values(print_to_string, big_endian, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), type,
               count);
  return printed();
}

struct ValueCase {
  const char* what;
  int type;
  uint32_t count;
  std::string little;  // value bytes, little-endian
  std::string big;     // the same values, big-endian
  const char* text;
};

class PrintValues : public testing::TestWithParam<ValueCase> {};

TEST_P(PrintValues, PrintsAlikeInBothByteOrders) {
  const ValueCase& c = GetParam();
  EXPECT_EQ(values_text(false, c.little, c.type, c.count), c.text) << c.what;
  EXPECT_EQ(values_text(true, c.big, c.type, c.count), c.text) << c.what;
}

std::string s(const char* bytes, size_t n) { return std::string(bytes, n); }

INSTANTIATE_TEST_SUITE_P(
    EachType, PrintValues,
    testing::Values(
        ValueCase{"byte", 1, 3, s("\x01\xff\x00", 3), s("\x01\xff\x00", 3), "1 255 0 \n"},
        ValueCase{"undefined", 7, 2, s("\x07\x80", 2), s("\x07\x80", 2), "7 128 \n"},
        ValueCase{"ascii", 2, 6, s("ab\x01" "c\0\0", 6), s("ab\x01" "c\0\0", 6), "ab?c\n"},
        ValueCase{"short", 3, 2, s("\x01\x00\xff\xff", 4), s("\x00\x01\xff\xff", 4), "1 65535 \n"},
        ValueCase{"long", 4, 1, s("\x04\x03\x02\x01", 4), s("\x01\x02\x03\x04", 4), "16909060 \n"},
        ValueCase{"rational", 5, 1, s("\x01\0\0\0\x03\0\0\0", 8), s("\0\0\0\x01\0\0\0\x03", 8), "1/3 \n"},
        ValueCase{"sbyte", 6, 2, s("\xff\x05", 2), s("\xff\x05", 2), "-1 5 \n"},
        ValueCase{"sshort", 8, 1, s("\xfe\xff", 2), s("\xff\xfe", 2), "-2 \n"},
        ValueCase{"slong", 9, 1, s("\xfd\xff\xff\xff", 4), s("\xff\xff\xff\xfd", 4), "-3 \n"},
        ValueCase{"srational", 10, 1, s("\xff\xff\xff\xff\x02\0\0\0", 8), s("\xff\xff\xff\xff\0\0\0\x02", 8),
                  "-1/2 \n"},
        ValueCase{"float one", 11, 1, s("\0\0\x80\x3f", 4), s("\x3f\x80\0\0", 4), "1.000000 \n"},
        ValueCase{"double", 12, 1, s("\0\0\0\0\0\0\xf8\x3f", 8), s("\x3f\xf8\0\0\0\0\0\0", 8), "1.500000 \n"},
        ValueCase{"unknown type", 13, 2, s("\0\0", 2), s("\0\0", 2), "[?] [?] \n"},
        ValueCase{"no bytes", 3, 0, "", "", "[NULL]\n"}));

TEST(PrintValuesLimits, ShortsStopAfterElevenValues) {
  std::string bytes;
  for (int i = 0; i < 20; ++i) bytes += std::string{static_cast<char>(i), 0};
  EXPECT_EQ(values_text(false, bytes, 3, 20), "0 1 2 3 4 5 6 7 8 9 10 ...\n");
}

TEST(PrintValuesLimits, ElevenShortsPrintWithoutEllipsis) {
  std::string bytes(22, '\0');
  EXPECT_EQ(values_text(false, bytes, 3, 11), "0 0 0 0 0 0 0 0 0 0 0 \n");
}

TEST(PrintValuesLimits, AsciiStopsAfter201Characters) {
  std::string text(300, 'x');
  EXPECT_EQ(values_text(false, text, 2, 300), std::string(201, 'x') + "...\n");
}

TEST(PrintValuesLimits, NeverReadsPastTheBytesItIsGiven) {
  // A count larger than the bytes at hand prints only what is there.
  std::string bytes("\x01\x02\x03\x04", 4);
  EXPECT_EQ(values_text(false, bytes, 1, 1000), "1 2 3 4 \n");
  EXPECT_EQ(values_text(false, bytes, 5, 3), "\n");
}

TEST(PrintValuesLocale, FloatsUseThePointWhateverTheLocale) {
  testing_support::CommaLocale locale;
  ASSERT_TRUE(locale.active()) << "no comma-decimal locale (scripts/install-deps installs the locales package)";
  EXPECT_EQ(values_text(false, std::string("\0\0\x80\x3f", 4), 11, 1), "1.000000 \n");
}

TEST(PrintIptc, KeywordVersionAndOtherRecords) {
  std::string iptc = std::string("\x1c\x02\x00\x00\x02\x00\x04", 7) +   // record version 4
                     std::string("\x1c\x02\x19\x00\x05", 5) + "sunny" +   // keyword
                     std::string("\x1c\x02\x78\x00\x03", 5) + "abc" +     // caption
                     std::string("\x1c\x02\x00\x00\x01", 5) + "x";        // version of the wrong size
  printed().clear();
  print_iptc(print_to_string, reinterpret_cast<const uint8_t*>(iptc.data()), iptc.size());
  EXPECT_EQ(printed(),
            "\t\t\t\tRecord Version = 4\n"
            "\t\t\t\tKeyword: sunny\n"
            "\t\t\ttag=28 rcd=2 ds=120 count=3\n");
}

TEST(PrintIptc, RecordRunningPastTheEndIsNotPrinted) {
  std::string iptc = std::string("\x1c\x02\x19\x00\x02", 5) + "ok" + std::string("\x1c\x02\x19\x00\x09", 5) + "short";
  printed().clear();
  print_iptc(print_to_string, reinterpret_cast<const uint8_t*>(iptc.data()), iptc.size());
  EXPECT_EQ(printed(), "\t\t\t\tKeyword: ok\n");
  printed().clear();
  print_iptc(print_to_string, reinterpret_cast<const uint8_t*>(iptc.data()), 4);
  EXPECT_EQ(printed(), "");
}

}  // namespace
