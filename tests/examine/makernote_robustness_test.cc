// Maker notes from every header form and from real cameras through a table
// of mutations: truncation at every length (so at every directory and
// value boundary), counts of 0, 1, 0x40000001 and 0xFFFFFFFF, offsets past
// the end, at the end and back to the directory, and chains that loop.
// Each decode must end quickly, print a whole block and read nothing
// outside the note (the address sanitizer watches an exact-size copy).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdarg>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "examine/makernote.h"
#include "examine_harness.h"
#include "support/makernote_builder.h"
#include "support/temp_folder.h"
#include "support/tiff_builder.h"

namespace {

using examine_test::Examination;
using testing_support::MakerNoteBuilder;

struct NoteCase {
  std::string name;
  std::string make;
  std::string note;
  bool big_endian;  // the file's byte order
  uint32_t directory;  // where the printed directory starts in the note
};

thread_local size_t printed_bytes = 0;

int count_printed(const char* format, ...) {
  char line[2048];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n > 0) printed_bytes += static_cast<size_t>(n);
  return n;
}

MakerNoteBuilder entries(bool big_endian) {
  MakerNoteBuilder b(big_endian);
  b.add_short(1, {1})
      .add_ascii(3, "a text value")
      .add_rational(4, 7, 2)
      .add_byte(7, {1, 2, 3})
      .add_long(8, {9})
      .add_srational(9, -1, 3)
      .add_short(12, {1, 2, 3});
  return b;
}

MakerNoteBuilder asahi_entries() {
  MakerNoteBuilder b(true);
  for (uint16_t tag : {8, 9, 13, 25, 31, 32, 33}) b.add_short(tag, {tag});
  b.add_ascii(34, "some text").add_rational(35, 1, 3).add_srational(36, 0, 0);
  return b;
}

std::vector<NoteCase> builder_notes() {
  return {
      {"canon", "Canon", plain_note(entries(false)), false, 0},
      {"olympus", "OLYMPUS", olympus_note(entries(false)), false, 8},
      {"fujifilm", "FUJIFILM", fujifilm_note(entries(false)), true, 12},
      {"nikon_first", "NIKON", nikon1_note(entries(true)), true, 8},
      {"nikon_second_be", "NIKON", nikon2_note(entries(true)), false, 18},
      {"nikon_second_le", "NIKON", nikon2_note(entries(false), 0x0200), true, 18},
      {"nikon_plain", "NIKON", plain_note(entries(false)), false, 0},
      {"casio_qvc", "CASIO", casio_qvc_note(entries(false)), false, 6},
      {"minolta", "Minolta", plain_note(entries(true)), true, 0},
      {"sanyo", "SANYO", sanyo_note(entries(false)), false, 8},
      {"asahi", "Asahi", plain_note(asahi_entries()), true, 0},
      {"pentax_aoc", "PENTAX", asahi_aoc_note(asahi_entries(), "  "), false, 6},
      {"leica", "LEICA", leica_note(entries(false)), false, 8},
      {"panasonic", "Panasonic", panasonic_note(entries(false)), false, 12},
      {"sigma", "SIGMA", sigma_note(entries(false)), false, 10},
  };
}

// The maker note of a real file, as the examiner kept it.
NoteCase real_note(const char* file, uint32_t directory) {
  Examination e(testing_support::read_file(std::string(CORVELLA_FIXTURES "/jpeg/") + file), print_nothing);
  e.walk();
  NoteCase c{file, "", "", false, directory};
  if (e.state() == nullptr) return c;
  c.make = e.state()->make;
  c.big_endian = e.state()->big_endian;
  for (const TV_IFD* d = e.first(); d != nullptr && c.note.empty(); d = d->next) {
    const TV_IFD* exif = d->exif;
    if (exif != nullptr && !exif->maker_note.empty()) c.note.assign(exif->maker_note.begin(), exif->maker_note.end());
  }
  return c;
}

std::vector<NoteCase> real_notes() {
  return {real_note("nikon_d1x_type3_le_iptc.jpg", 18), real_note("olympus_c960_olymp.jpg", 8),
          real_note("fujifilm_finepix40i.jpg", 12), real_note("sanyo_sr662.jpg", 8),
          real_note("canon_powershot_s330.jpg", 0)};
}

// One decode of bytes as the case's maker note; fails the test when it is
// slow or prints a broken block.
void decode_checked(const NoteCase& c, const std::string& bytes, const std::string& what) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size() + (bytes.empty() ? 1 : 0)]);
  memcpy(copy.get(), bytes.data(), bytes.size());
  MakerNoteFindings findings;
  printed_bytes = 0;
  const auto start = std::chrono::steady_clock::now();
  print_maker_notes(count_printed, "", copy.get(), static_cast<uint32_t>(bytes.size()), c.make.c_str(),
                    c.big_endian, nullptr, 0, &findings);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_LT(elapsed, std::chrono::seconds(1)) << c.name << " " << what;
  // A note of n bytes holds at most n / 12 entries, each printed in at most
  // about 1100 characters.
  ASSERT_LE(findings.total, static_cast<int>(bytes.size() / 12 + 1)) << c.name << " " << what;
  ASSERT_LE(printed_bytes, 200 + (bytes.size() / 12 + 1) * 1100) << c.name << " " << what;
}

// The table of mutations of one note: every truncation, then every 16-bit
// and 32-bit word overwritten with the hostile values in both byte orders.
void mutate_all(const NoteCase& c, const std::function<void(const std::string&, const std::string&)>& run) {
  for (size_t length = 0; length <= c.note.size(); ++length) run(c.note.substr(0, length), "cut " + std::to_string(length));
  const uint32_t size = static_cast<uint32_t>(c.note.size());
  const std::vector<uint32_t> words = {0,          1,        0x40000001u, 0xFFFFFFFFu, size,       size - 1,
                                       size - 8,   c.directory, c.directory - 2, 0xFFFFFFF8u};
  const std::vector<uint16_t> halves = {0, 1, 0xFFFF, static_cast<uint16_t>(size / 12)};
  for (bool big_endian : {false, true}) {
    const MakerNoteBuilder order(big_endian);
    for (size_t at = 0; at + 2 <= c.note.size(); at += 2) {
      for (uint16_t h : halves) {
        std::string bytes = c.note;
        bytes.replace(at, 2, order.u16(h));
        run(bytes, "u16 " + std::to_string(h) + " at " + std::to_string(at));
      }
      if (at + 4 > c.note.size()) continue;
      for (uint32_t w : words) {
        std::string bytes = c.note;
        bytes.replace(at, 4, order.u32(w));
        run(bytes, "u32 " + std::to_string(w) + " at " + std::to_string(at));
      }
    }
  }
}

TEST(MakerNoteRobustness, EveryMutationOfEveryNoteDecodesSafely) {
  std::vector<NoteCase> cases = builder_notes();
  for (NoteCase& c : real_notes()) {
    ASSERT_FALSE(c.note.empty()) << c.name;
    cases.push_back(std::move(c));
  }
  testing::internal::CaptureStderr();  // the version warnings
  for (const NoteCase& c : cases) {
    mutate_all(c, [&](const std::string& bytes, const std::string& what) { decode_checked(c, bytes, what); });
    if (HasFatalFailure()) break;
  }
  testing::internal::GetCapturedStderr();
}

// The same notes inside files, through both entries of the examiner: a
// fewer mutations, since each is a whole examination.
TEST(MakerNoteRobustness, MutatedNotesInFilesExamineSafely) {
  testing::internal::CaptureStderr();
  for (const NoteCase& c : builder_notes()) {
    mutate_all(c, [&](const std::string& bytes, const std::string& what) {
      for (bool tiff : {false, true}) {
        const std::string file = tiff ? testing_support::maker_note_tiff(c.make, bytes, c.big_endian)
                                       : testing_support::maker_note_jpeg(c.make, bytes, c.big_endian);
        Examination e(file, count_printed);
        const auto start = std::chrono::steady_clock::now();
        const bool walked = e.walk();
        const bool read = e.examine();
        ASSERT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << c.name << " " << what;
        // The note is a value like any other: the file around it is sound.
        ASSERT_TRUE(walked) << c.name << " " << what << ": " << e.message();
        ASSERT_TRUE(read) << c.name << " " << what << ": " << e.message();
      }
    });
    if (HasFatalFailure()) break;
  }
  testing::internal::GetCapturedStderr();
}

// One directory holding many MakerNote entries that all point at one note
// of 5000 entries: the cap on maker-note entries per examination bounds
// the work, however often the note is met.
TEST(MakerNoteRobustness, ANoteMetManyTimesStopsAtTheExaminationCap) {
  MakerNoteBuilder b;
  for (int i = 0; i < 5000; ++i) b.add_short(1, {1});
  const std::string note = plain_note(b);
  auto build = [&](uint32_t note_offset) {
    testing_support::TiffBuilder tiff;
    const int first = tiff.add_ifd();
    const int exif = tiff.add_ifd();
    tiff.add_ascii(first, 271, "Canon");
    tiff.add_ifd_pointer(first, 34665, {exif});
    tiff.add_undefined(exif, 37500, note);
    for (int i = 0; i < 59; ++i) tiff.add_raw(exif, 37500, 7, static_cast<uint32_t>(note.size()), note_offset);
    return tiff.build();
  };
  const std::string probe = build(0);
  const std::string file = build(static_cast<uint32_t>(probe.find(note)));
  Examination e(file, count_printed);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(e.walk()) << e.message();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(e.state()->maker_note.count, 60);
  EXPECT_EQ(e.state()->maker_note.total, 1 << 18);
}

}  // namespace
