// The JPEG check decodes at an eighth of the size through its own source:
// over every kind of JPEG and every kind of damage, its verdict and its
// messages must be those of a full-size decode through the library's stdio
// source (from memory: its memory source), which the reference below is.
#include "worker/jpeg_check.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

#include "dng/support/stderr_capture.h"
#include "support/image_writers.h"
#include "support/temp_folder.h"

namespace {

using namespace testing_support;

struct Outcome {
  bool valid = false;
  std::string messages;  // what the check wrote to standard error
  bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
  return out << (o.valid ? "valid" : "invalid") << " [" << o.messages << "]";
}

// The reference: a full-size decode through the library's own sources,
// printing and stopping as the check does.
struct ReferenceErrors {
  jpeg_error_mgr pub;
  jmp_buf recovery;
  void (*library_emit)(j_common_ptr, int);
};

void reference_print(j_common_ptr cinfo) {
  char text[JMSG_LENGTH_MAX < 200 ? 200 : JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, text);
  text[199] = '\0';
  fprintf(stderr, "\nERROR processing JPEG: %s\n", text);
  fflush(stderr);
}

[[noreturn]] void reference_error(j_common_ptr cinfo) {
  (*cinfo->err->output_message)(cinfo);
  longjmp(reinterpret_cast<ReferenceErrors*>(cinfo->err)->recovery, 1);
}

void reference_warning(j_common_ptr cinfo, int level) {
  auto* err = reinterpret_cast<ReferenceErrors*>(cinfo->err);
  err->library_emit(cinfo, level);
  if (level < 0) longjmp(err->recovery, 1);
}

// file: decode it through the stdio source; otherwise the bytes through the
// memory source.
bool reference_decode(FILE* file, const std::string* bytes, long max_memory) {
  jpeg_decompress_struct cinfo;
  ReferenceErrors err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = reference_error;
  err.pub.output_message = reference_print;
  err.library_emit = err.pub.emit_message;
  err.pub.emit_message = reference_warning;
  if (setjmp(err.recovery) != 0) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  cinfo.mem->max_memory_to_use = max_memory;
  if (file != nullptr) {
    jpeg_stdio_src(&cinfo, file);
  } else {
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(bytes->data()), bytes->size());
  }
  jpeg_read_header(&cinfo, TRUE);
  jpeg_start_decompress(&cinfo);
  JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                              cinfo.output_width * static_cast<JDIMENSION>(cinfo.output_components), 1);
  while (cinfo.output_scanline < cinfo.output_height) {
    if (jpeg_read_scanlines(&cinfo, row, 1) != 1) break;
  }
  jpeg_finish_decompress(&cinfo);
  bool valid = err.pub.num_warnings == 0;
  jpeg_destroy_decompress(&cinfo);
  return valid;
}

// Runs checks with standard error captured, one capture for all of them.
class Checker {
 public:
  // start_size: how many of the file's first bytes are handed over as read
  // already (the worker hands over what identification read).
  Outcome file(const std::string& path, size_t start_size = 0) {
    const std::string bytes = read_file(path).substr(0, start_size);
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {false, "cannot open " + path};
    // The check reads from the first byte whatever the descriptor's position.
    lseek(fd, 0, SEEK_END);
    JpegFileStart start{reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()};
    Outcome o = captured([&] { return jpeg_check_file(fd, start); });
    close(fd);
    return o;
  }
  Outcome memory(const std::string& bytes, long max_memory = kJpegMaxMemory) {
    return captured([&] {
      return jpeg_check_memory(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), max_memory);
    });
  }
  Outcome reference_file(const std::string& path) {
    FILE* in = fopen(path.c_str(), "rb");
    if (in == nullptr) return {false, "cannot open " + path};
    Outcome o = captured([&] { return reference_decode(in, nullptr, kJpegMaxMemory); });
    fclose(in);
    return o;
  }
  Outcome reference_memory(const std::string& bytes, long max_memory = kJpegMaxMemory) {
    return captured([&] { return reference_decode(nullptr, &bytes, max_memory); });
  }

 private:
  Outcome captured(const std::function<bool()>& check) {
    capture_.Take();
    Outcome o;
    o.valid = check();
    o.messages = capture_.Take();
    return o;
  }
  dng_test::StderrCapture capture_;
};

// Where things lie in a JPEG: the header segments and the entropy-coded
// data of each scan.
struct Range {
  size_t begin = 0;
  size_t end = 0;
};
struct Segment {
  size_t at = 0;  // of the 0xFF of its marker
  unsigned char code = 0;
  size_t length = 0;  // the length field's value
};
struct Layout {
  std::vector<Segment> segments;
  std::vector<Range> scans;
};

Layout layout_of(const std::string& b) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(b[i]); };
  Layout layout;
  size_t i = 2;  // after SOI
  while (i + 4 <= b.size() && byte(i) == 0xFF) {
    unsigned char code = byte(i + 1);
    if (code == 0xD9) break;
    size_t length = (static_cast<size_t>(byte(i + 2)) << 8) | byte(i + 3);
    layout.segments.push_back({i, code, length});
    i += 2 + length;
    if (code != 0xDA) continue;
    // Entropy-coded data up to the next marker other than a stuffed zero or
    // a restart marker.
    size_t start = i;
    while (i + 1 < b.size() && !(byte(i) == 0xFF && byte(i + 1) != 0 && !(byte(i + 1) >= 0xD0 && byte(i + 1) <= 0xD7)))
      ++i;
    layout.scans.push_back({start, i});
  }
  return layout;
}

// The offset of the k-th of n points spread over the entropy-coded data of
// all scans.
size_t entropy_offset(const Layout& layout, size_t k, size_t n) {
  size_t total = 0;
  for (const auto& s : layout.scans) total += s.end - s.begin;
  size_t target = total * (2 * k + 1) / (2 * n);
  for (const auto& s : layout.scans) {
    if (target < s.end - s.begin) return s.begin + target;
    target -= s.end - s.begin;
  }
  return layout.scans.empty() ? 0 : layout.scans.back().end - 1;
}

struct Damaged {
  std::string name;
  std::string bytes;
};

std::vector<Damaged> damages_of(const std::string& sound, bool header_bytes) {
  const Layout layout = layout_of(sound);
  std::vector<Damaged> out;
  auto add = [&](std::string name, std::string bytes) { out.push_back({std::move(name), std::move(bytes)}); };
  const size_t size = sound.size();
  add("sound", sound);

  // Truncations: through the header, at the data's start, through the data,
  // and at the end marker.
  for (double f : {0.02, 0.1, 0.25, 0.4, 0.5, 0.6, 0.75, 0.9, 0.99}) {
    add("cut at " + std::to_string(f), sound.substr(0, static_cast<size_t>(static_cast<double>(size) * f)));
  }
  for (const auto& s : layout.scans) {
    add("cut at scan start " + std::to_string(s.begin), sound.substr(0, s.begin));
    add("cut after scan's first byte " + std::to_string(s.begin), sound.substr(0, s.begin + 1));
  }
  add("no end marker", sound.substr(0, size - 2));
  add("half an end marker", sound.substr(0, size - 1));

  // Zeroed runs of the entropy-coded data.
  for (size_t length : {1u, 8u, 64u, 512u}) {
    for (size_t k = 0; k < 6; ++k) {
      std::string b = sound;
      size_t at = entropy_offset(layout, k, 6);
      for (size_t i = at; i < at + length && i < size - 2; ++i) b[i] = 0;
      add("zeroed " + std::to_string(length) + " at " + std::to_string(at), b);
    }
  }

  // Single bit flips all through the entropy-coded data.
  constexpr size_t kFlips = 96;
  for (size_t k = 0; k < kFlips; ++k) {
    std::string b = sound;
    size_t at = entropy_offset(layout, k, kFlips);
    b[at] = static_cast<char>(b[at] ^ (1 << (k % 8)));
    add("bit " + std::to_string(k % 8) + " flipped at " + std::to_string(at), b);
  }

  // Every byte of every header segment but the application ones set to 0x00
  // and to 0xFF: bad lengths, table numbers, sampling factors, component
  // selectors, dimensions, precisions, spectral selections, markers.
  for (const auto& seg : layout.segments) {
    if (!header_bytes) break;
    if (seg.code >= 0xE0 && seg.code <= 0xEF) continue;
    for (size_t i = seg.at + 1; i < seg.at + 2 + seg.length && i < size; ++i) {
      for (char value : {'\x00', '\xFF'}) {
        if (sound[i] == value) continue;
        std::string b = sound;
        b[i] = value;
        add("header byte " + std::to_string(i) + " set to " + std::to_string(static_cast<unsigned char>(value)), b);
      }
    }
  }

  // Markers where they do not belong.
  if (!layout.scans.empty()) {
    const Range& scan = layout.scans.front();
    size_t middle = scan.begin + (scan.end - scan.begin) / 2;
    for (const char* marker : {"\xFF\xD3", "\xFF\xD0", "\xFF\xC4", "\xFF\xD9", "\xFF\xDA", "\xFF\xD8"}) {
      std::string b = sound;
      b.insert(middle, marker, 2);
      add("marker " + std::to_string(static_cast<unsigned char>(marker[1])) + " inside the data", b);
    }
    std::string b = sound;
    b.insert(scan.begin, "\x12\x34\x56", 3);
    add("bytes before the data", b);
  }
  if (layout.segments.size() > 1) {
    std::string b = sound;
    b.insert(layout.segments[1].at, "junk", 4);
    add("extraneous bytes before a marker", b);
  }
  add("bytes after the end marker", sound + "trailing bytes");
  add("no start marker", sound.substr(2));
  {
    std::string b = sound;
    b[1] = static_cast<char>(0xD9);
    add("end marker for the start marker", b);
  }
  return out;
}

struct Kind {
  const char* name;
  JpegOptions options;
  size_t app_bytes = 0;       // an application segment of this size after SOI
  bool header_bytes = true;   // damage every header byte too
};

JpegOptions with(std::function<void(JpegOptions&)> set) {
  JpegOptions o;
  o.width = 168;
  o.height = 112;
  set(o);
  return o;
}

// Sizes that give the files many of the library's 4096-byte slices.
const Kind kKinds[] = {
    {"baseline 4:2:0", with([](JpegOptions&) {})},
    {"baseline 4:2:2", with([](JpegOptions& o) { o.luma_v = 1; })},
    {"baseline 4:4:4", with([](JpegOptions& o) { o.luma_h = o.luma_v = 1; })},
    {"baseline, edge blocks", with([](JpegOptions& o) { o.width = 171; o.height = 117; })},
    {"progressive 4:2:0", with([](JpegOptions& o) { o.progressive = true; })},
    {"progressive 4:4:4", with([](JpegOptions& o) { o.progressive = true; o.luma_h = o.luma_v = 1; })},
    {"grey", with([](JpegOptions& o) { o.grayscale = true; })},
    {"grey progressive", with([](JpegOptions& o) { o.grayscale = true; o.progressive = true; })},
    {"restart every row 4:2:0", with([](JpegOptions& o) { o.restart_rows = 1; })},
    {"restart every 2 rows, progressive 4:4:4",
     with([](JpegOptions& o) { o.restart_rows = 2; o.progressive = true; o.luma_h = o.luma_v = 1; })},
    {"restart every row, grey", with([](JpegOptions& o) { o.restart_rows = 1; o.grayscale = true; })},
    {"arithmetic", with([](JpegOptions& o) { o.arithmetic = true; })},
    {"arithmetic progressive", with([](JpegOptions& o) { o.arithmetic = true; o.progressive = true; })},
    // Skipped segments longer than a slice.
    {"large application segment", with([](JpegOptions&) {}), 9000},
    // Several of the check's read blocks.
    {"large baseline", with([](JpegOptions& o) { o.width = 800; o.height = 560; }), 0, false},
    {"large progressive", with([](JpegOptions& o) { o.width = 800; o.height = 560; o.progressive = true; }), 0, false},
};

// Puts an application segment of n bytes (marker and length included)
// after the start marker.
std::string with_app_segment(const std::string& bytes, size_t n) {
  if (n == 0) return bytes;
  std::string segment = "\xFF\xE5";
  segment += static_cast<char>((n - 2) >> 8);
  segment += static_cast<char>((n - 2) & 0xFF);
  for (size_t i = 4; i < n; ++i) segment += static_cast<char>(i * 7);
  return bytes.substr(0, 2) + segment + bytes.substr(2);
}

void PrintTo(const Kind& kind, std::ostream* out) { *out << kind.name; }

class JpegCheckDamage : public ::testing::TestWithParam<Kind> {};

TEST_P(JpegCheckDamage, AnEighthOfTheSizeGivesTheReferenceVerdictAndMessages) {
  TempFolder dir;
  const std::string path = dir.sub("case.jpg");
  ASSERT_TRUE(write_jpeg(path, GetParam().options));
  const std::string sound = with_app_segment(read_file(path), GetParam().app_bytes);
  Checker checker;
  bool found_damage = false;
  for (const auto& d : damages_of(sound, GetParam().header_bytes)) {
    SCOPED_TRACE(d.name);
    dir.write_file("case.jpg", d.bytes);
    const Outcome reference = checker.reference_file(path);
    EXPECT_EQ(checker.file(path), reference);
    EXPECT_EQ(checker.file(path, kJpegSourceSlice), reference) << "with the first slice read already";
    EXPECT_EQ(checker.memory(d.bytes), checker.reference_memory(d.bytes)) << "from memory";
    if (d.name == "sound") {
      EXPECT_EQ(reference, (Outcome{true, ""}));
    }
    if (!reference.valid) found_damage = true;
  }
  EXPECT_TRUE(found_damage);  // the table damages this kind at all
}

INSTANTIATE_TEST_SUITE_P(EveryKind, JpegCheckDamage, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<Kind>& info) {
                           std::string name;
                           for (const char* c = info.param.name; *c != '\0'; ++c) {
                             if (isalnum(static_cast<unsigned char>(*c))) name += *c;
                           }
                           return name;
                         });

// Rewrites the width and height in a JPEG's start-of-frame marker.
std::string with_dimensions(std::string bytes, uint16_t width, uint16_t height) {
  for (size_t i = 2; i + 9 < bytes.size(); ++i) {
    auto b = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
    if (b(i) == 0xFF && (b(i + 1) == 0xC0 || b(i + 1) == 0xC2)) {
      bytes[i + 5] = static_cast<char>(height >> 8);
      bytes[i + 6] = static_cast<char>(height & 0xFF);
      bytes[i + 7] = static_cast<char>(width >> 8);
      bytes[i + 8] = static_cast<char>(width & 0xFF);
      break;
    }
  }
  return bytes;
}

// A header announcing an image whose coefficients alone come near the
// memory limit: at full size the library runs out of memory a little
// earlier than at an eighth, since its row buffers are larger. Around the
// height where the full-size decode starts to run out, both answer alike.
// A limit of 16 MB stands in for the real one, which behaves the same at
// 64 times the size.
TEST(JpegCheck, NearTheMemoryLimitTheVerdictAndMessagesAreThoseOfTheReference) {
  constexpr long kLimit = 16L * 1024 * 1024;
  TempFolder dir;
  struct Case {
    const char* name;
    JpegOptions options;
    uint16_t width;
  } cases[] = {
      {"progressive 4:2:0", with([](JpegOptions& o) { o.progressive = true; o.width = o.height = 32; }), 65488},
      {"progressive 4:2:0, narrower", with([](JpegOptions& o) { o.progressive = true; o.width = o.height = 32; }),
       20000},
      {"progressive 4:4:4",
       with([](JpegOptions& o) { o.progressive = true; o.luma_h = o.luma_v = 1; o.width = o.height = 32; }), 40000},
      {"grey progressive",
       with([](JpegOptions& o) { o.progressive = true; o.grayscale = true; o.width = o.height = 32; }), 65000},
  };
  Checker checker;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.sub("small.jpg");
    ASSERT_TRUE(write_jpeg(path, c.options));
    const std::string small = read_file(path);
    auto full = [&](uint16_t height) { return checker.reference_memory(with_dimensions(small, c.width, height), kLimit); };
    // The lowest height whose full-size answer is no longer that of a short
    // image: where the memory runs out.
    const Outcome short_image = full(16);
    ASSERT_FALSE(short_image.valid);
    uint16_t low = 16, high = 65500;
    ASSERT_NE(full(high), short_image);
    while (high - low > 1) {
      uint16_t middle = static_cast<uint16_t>((low + high) / 2);
      (full(middle) == short_image ? low : high) = middle;
    }
    for (int height = std::max(16, high - 24); height <= high + 24; ++height) {
      SCOPED_TRACE(height);
      std::string bytes = with_dimensions(small, c.width, static_cast<uint16_t>(height));
      EXPECT_EQ(checker.memory(bytes, kLimit), checker.reference_memory(bytes, kLimit));
    }
  }
}

}  // namespace
