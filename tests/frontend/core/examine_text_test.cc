#include "frontend/core/examine_text.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "examine/psd_checker.h"
#include "support/psd_builder.h"
#include "support/temp_folder.h"
#include "support/tiff_builder.h"

namespace {

using namespace frontend;
using testing_support::TempFolder;

const std::string kNote = "\n(The file may be OK, but in a format that Corvella is unable to interpret.)\n";

bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A failed examination ends with the error line and the note.
void expect_failure(const std::string& dump, const std::string& message) {
  EXPECT_TRUE(ends_with(dump, "\nERROR: " + message + "\n" + kNote)) << dump;
}

TEST(ExamineText, ImageFilesAreDumpedWithTheClosingLine) {
  for (const char* name : {"examine/gray_8bit_multipage.tiff", "examine/canon_eos300d_exiftool_small.tif",
                           "jpeg/canon_powershot_s330.jpg", "raw/canon_eos300d_ciff_stripped.crw"}) {
    std::string path = std::string(CORVELLA_FIXTURES) + "/" + name;
    std::string dump = examine_dump(path);
    EXPECT_EQ(dump.rfind(path + "\n", 0), 0u) << name;  // the walk names the file first
    EXPECT_TRUE(ends_with(dump, "\n[This examination did not verify actual image data.]\n")) << name;
    EXPECT_EQ(dump.find("ERROR:"), std::string::npos) << name;
    EXPECT_GT(dump.size(), path.size() + 200) << name;
  }
}

TEST(ExamineText, TheWindowTextHasACarriageReturnBeforeEveryLineFeed) {
  EXPECT_EQ(examine_window_text("a\nb\n\nc"), "a\r\nb\r\n\r\nc");
  std::string path = std::string(CORVELLA_FIXTURES) + "/examine/gray_8bit_multipage.tiff";
  std::string dump = examine_dump(path);
  EXPECT_EQ(ExamineFile(path), examine_window_text(dump));
}

TEST(ExamineText, PsdFilesInAnyCaseGoToThePsdCheckersDump) {
  TempFolder dir;
  std::string bytes = testing_support::read_file(std::string(CORVELLA_FIXTURES) + "/psd/lab_8bit_raw_4x4.psd");
  ASSERT_FALSE(bytes.empty());
  for (const char* name : {"image.psd", "IMAGE.PSD", "Image.Psd"}) {
    std::string path = dir.write_file(name, bytes);
    // The checker's own dump of the same file, captured directly.
    testing_support::captured_print().clear();
    {
      PsdPrintScope scope(testing_support::capture_print);
      ASSERT_TRUE(verifyPSD(path.c_str(), nullptr));
    }
    std::string dump = examine_dump(path);
    EXPECT_FALSE(dump.empty()) << name;
    EXPECT_EQ(dump, testing_support::captured_print()) << name;
    EXPECT_EQ(psd_print, psd_print_nothing) << name;  // the hook is restored
  }
}

TEST(ExamineText, ThePsdExtensionIsThatOfTheLastElement) {
  struct Case {
    const char* path;
    bool psd;
  };
  for (const Case& c : {Case{"/a/b.psd", true}, Case{"/a/b.PsD", true}, Case{"b.psd", true},
                        Case{"/a.psd/b", false}, Case{"/a.psd/b.tif", false}, Case{"/a/b.psd2", false},
                        Case{"/a/bpsd", false}, Case{"", false}}) {
    EXPECT_EQ(is_psd_path(c.path), c.psd) << c.path;
  }
}

TEST(ExamineText, FilesThatCannotBeReadGiveTheErrorLineAndTheNote) {
  TempFolder dir;
  std::string missing_tif = dir.sub("missing.tif");
  EXPECT_EQ(examine_dump(missing_tif), missing_tif + "\n" + "\nERROR: Can't open file\n" + kNote);
  expect_failure(examine_dump(dir.sub("missing.psd")), "can't open");

  std::string text = dir.write_file("notes.tif", "Just some words, not an image at all.\n");
  std::string dump = examine_dump(text);
  EXPECT_NE(dump.find("\nERROR: "), std::string::npos) << dump;
  EXPECT_TRUE(ends_with(dump, kNote)) << dump;
}

TEST(ExamineText, ALoopingDirectoryChainEndsWithTheErrorLine) {
  TempFolder dir;
  testing_support::TiffBuilder tiff;
  int first = tiff.add_ifd();
  tiff.add_long(first, 256, {1});
  tiff.add_long(first, 257, {1});
  int second = tiff.add_ifd();
  tiff.add_long(second, 256, {1});
  tiff.set_next(first, second);
  tiff.set_next(second, first);
  std::string path = dir.write_file("loop.tif", tiff.build());
  std::string dump = examine_dump(path);
  size_t error = dump.rfind("\nERROR: ");
  ASSERT_NE(error, std::string::npos) << dump;
  EXPECT_TRUE(ends_with(dump, kNote)) << dump;
  EXPECT_EQ(dump.find("did not verify"), std::string::npos);
}

TEST(ExamineText, ADamagedPsdEndsWithTheCheckersErrorAndTheNote) {
  TempFolder dir;
  testing_support::PsdBuilder builder(3, 4, 4);
  std::string good = builder.build();
  std::string good_path = dir.write_file("good.psd", good);
  std::string good_dump = examine_dump(good_path);
  EXPECT_EQ(good_dump.find("ERROR:"), std::string::npos) << good_dump;

  std::vector<std::string> damaged = {good.substr(0, good.size() / 2), "8BPX" + good.substr(4)};
  for (size_t i = 0; i < damaged.size(); ++i) {
    std::string path = dir.write_file("damaged" + std::to_string(i) + ".psd", damaged[i]);
    const char* error = nullptr;
    ASSERT_FALSE(verifyPSD(path.c_str(), &error)) << i;
    std::string message = error;
    expect_failure(examine_dump(path), message);
  }
}

TEST(ExamineText, ExaminationsOnSeveralThreadsDoNotMix) {
  std::string tiff = std::string(CORVELLA_FIXTURES) + "/examine/nikon_d70_stripped.nef";
  std::string psd = std::string(CORVELLA_FIXTURES) + "/psd/grayscale_8bit_rle.psd";
  const std::string tiff_dump = examine_dump(tiff);
  const std::string psd_dump = examine_dump(psd);
  std::vector<std::string> results(8);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < results.size(); ++i)
    threads.emplace_back([&, i] { results[i] = examine_dump(i % 2 == 0 ? tiff : psd); });
  for (std::thread& t : threads) t.join();
  for (size_t i = 0; i < results.size(); ++i) EXPECT_EQ(results[i], i % 2 == 0 ? tiff_dump : psd_dump) << i;
}

}  // namespace
