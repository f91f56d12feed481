// Every tag the file-wide and EXIF readers know, offered with every field
// type and with counts of 0, 1, small, 0x40000001 and 0xFFFFFFFF over a
// short value: each offer ends with the tag taken or refused, or with the
// end-of-file verdict, never anything else; nothing reaches standard output;
// and the objects then finish and validate without fault.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/parse/dng_exif.h"
#include "dng/parse/dng_shared.h"
#include "dng/support/failing_allocator.h"
#include "parse_test_util.h"

// Under AddressSanitizer every allocation above 64 MB fails this whole test
// program: no DNG structure read here may ask for more than a small file
// holds, however large the counts it carries. (ASAN_OPTIONS still adds to
// or overrides these defaults.)
extern "C" const char* __asan_default_options() { return "max_allocation_size_mb=64"; }

namespace {

std::vector<uint32_t> known_tags() {
  std::vector<uint32_t> tags;
  for (uint32_t t = 0; t <= 31; ++t) tags.push_back(t);  // GPS and Interoperability
  for (uint32_t t : {270u, 271u, 272u, 305u, 306u, 315u, 700u, 4096u, 4097u, 4098u, 33405u,
                     33423u, 33424u, 33432u, 33434u, 33437u, 33723u, 34665u, 34850u, 34853u,
                     34855u, 34858u, 34859u, 36864u, 36867u, 36868u, 37121u, 37122u, 37500u,
                     37510u, 37520u, 37521u, 37522u, 40960u, 40961u, 40962u, 40963u, 40965u,
                     41486u, 41487u, 41488u, 41492u, 41493u, 41495u, 41728u, 41729u, 41730u,
                     42016u, 42240u, 50736u, 65024u, 65535u}) {
    tags.push_back(t);
  }
  for (uint32_t t = 37377; t <= 37399; ++t) tags.push_back(t);
  for (uint32_t t = 41985; t <= 41996; ++t) tags.push_back(t);
  for (uint32_t t = 50706; t <= 50741; ++t) tags.push_back(t);
  for (uint32_t t = 50778; t <= 50781; ++t) tags.push_back(t);
  for (uint32_t t = 50827; t <= 50834; ++t) tags.push_back(t);
  tags.push_back(50879);
  return tags;
}

TEST(HostileTagValues, EveryTagTypeAndCountEndsCleanly) {
  const uint32_t parents[] = {0, 34665, 34853, 40965, 0x10000, 0x30008};
  const uint32_t types[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 16};
  const uint32_t counts[] = {0, 1, 2, 3, 4, 9, 12, 16, 20, 33, 0x40000001, 0xFFFFFFFF};

  // Bytes that exercise text, label and rational paths alike.
  std::mt19937 random(1234);
  std::string bytes(48, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  bytes.replace(8, 8, std::string("UNICODE\0", 8));

  const std::vector<uint32_t> tags = known_tags();
  for (bool big_endian : {false, true}) {
    dng_exif exif;
    dng_shared shared;
    std::string out;
    {
      dng_test::StdoutCapture stdout_capture;
      dng_test::StderrCapture stderr_capture;
      for (uint32_t parent : parents) {
        for (uint32_t tag : tags) {
          for (uint32_t type : types) {
            for (uint32_t count : counts) {
              dng_stream stream(bytes.data(), static_cast<uint32_t>(bytes.size()));
              stream.SetByteSwapped(big_endian);
              stream.SeekForRead(8);
              const int32_t code = dng_test::code_of([&] {
                if (!exif.ReadTag(stream, &shared, parent, parent == 0x10000, tag, type, count,
                                  8)) {
                  stream.SeekForRead(8);
                  shared.ReadTag(stream, &exif, parent, false, tag, type, count, 8, 0);
                }
              });
              ASSERT_TRUE(code == 0 || code == dng_code_end_of_file)
                  << "parent " << parent << " tag " << tag << " type " << type << " count "
                  << count << " code " << code;
            }
          }
        }
      }
      dng_host host;
      EXPECT_EQ(dng_test::code_of([&] {
                  exif.FinishParse(host, &shared);
                  shared.FinishParse(host, &exif);
                  (void)shared.Validate();
                }),
                0);
      stderr_capture.Take();
      out = stdout_capture.Take();
    }
    EXPECT_EQ(out, "");
  }
}

}  // namespace
