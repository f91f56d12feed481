#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>

#include "examine/examiner.h"
#include "frontend/core/database.h"
#include "frontend/core/exif_time.h"
#include "frontend/core/hash_context.h"
#include "frontend/core/hash_key.h"
#include "platform/files.h"
#include "support/makernote_builder.h"
#include "support/temp_folder.h"

namespace {

using namespace frontend;

using testing_support::casio_qvc_note;
using testing_support::maker_note_jpeg;
using testing_support::MakerNoteBuilder;
using testing_support::plain_note;
using testing_support::TempFolder;

const char* const kAbcDigest =
    "DDAF35A193617ABACC417349AE20413112E6FA4E89A97EA20A9EEEE64B55D39A2192992A274FC1A836BA3C23A3FEEBBD"
    "454D4423643CE80E2A9AC94FA54CA49F";

// EXIF times by base name; a file not listed cannot be examined.
class FakeExifTimes : public ExifTimeSource {
 public:
  bool exif_time_text(const char* path, std::string* out) override {
    ++calls;
    auto found = times.find(hash_key_base_name(path));
    if (found == times.end()) {
      out->clear();
      return false;
    }
    *out = found->second;
    return true;
  }
  std::map<std::string, std::string> times;
  int calls = 0;
};

// Local time is UTC+3 without daylight saving while a test runs.
class FixedZone {
 public:
  FixedZone() {
    const char* old = getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TZ", "XYZ-3", 1);
    tzset();
  }
  ~FixedZone() {
    if (had_)
      setenv("TZ", old_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  bool had_;
  std::string old_;
};

// 2009-01-02 03:04:05 UTC, 06:04:05 in the test zone.
constexpr time_t kModified = 1230865445;
const char* const kModifiedLocal = "2009-01-02 06:04:05";

size_t open_descriptors() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

void set_mtime(const std::string& path, time_t when) {
  struct timespec times[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

TEST(ExifTimeTest, TheDigitizedTimeIsJoinedWithSubSecondsAndADifferentDateTime) {
  struct Case {
    std::string digitized;
    std::string sub_sec;
    std::string date_time;
    std::string text;
  };
  const Case cases[] = {
      {"2009:01:02 03:04:05", "", "2009:01:02 03:04:05", "2009:01:02 03:04:05"},
      {"2009:01:02 03:04:05", "", "", "2009:01:02 03:04:05"},
      {"2009:01:02 03:04:05", "27", "2009:01:02 03:04:05", "2009:01:02 03:04:05.27"},
      {"2009:01:02 03:04:05", "", "2010:05:06 07:08:09", "2009:01:02 03:04:05/2010:05:06 07:08:09"},
      {"2009:01:02 03:04:05", "5", "2010:05:06 07:08:09", "2009:01:02 03:04:05.5/2010:05:06 07:08:09"},
      {"", "", "2010:05:06 07:08:09", "/2010:05:06 07:08:09"},
      {"", "", "", ""},
      {std::string(90, 'd'), "", std::string(20, 't'),
       std::string(90, 'd') + "/" + std::string(8, 't')},  // cut at 99
  };
  for (const Case& c : cases) {
    EXPECT_EQ(compose_exif_time(c.digitized.c_str(), c.sub_sec.c_str(), c.date_time.c_str()), c.text)
        << c.digitized << " | " << c.sub_sec << " | " << c.date_time;
  }
}

TEST(ExifTimeTest, TheExaminerReadsTheTimesOfACameraJpeg) {
  ExaminerExifTimeSource source;
  std::string text;
  EXPECT_TRUE(source.exif_time_text(CORVELLA_FIXTURES "/jpeg/canon_powershot_s330.jpg", &text));
  EXPECT_EQ(text, "2002:11:16 15:27:01/2002:11:18 22:46:09");
  EXPECT_TRUE(source.exif_time_text(CORVELLA_FIXTURES "/jpeg/sanyo_sr662.jpg", &text));
  EXPECT_EQ(text, "2001:09:15 18:11:27");
  EXPECT_FALSE(source.exif_time_text(CORVELLA_FIXTURES "/jpeg/missing.jpg", &text));
  EXPECT_EQ(text, "");
}

TEST(ExifTimeTest, TheWalkForTheExifTimePrintsNothingAboutMakerNotes) {
  // Maker notes of kinds the decoders warn about: a newer Casio note and an
  // Asahi note whose byte-order mark is unknown.
  MakerNoteBuilder casio;
  casio.add_ascii(8194, "ab");
  MakerNoteBuilder asahi(true);
  asahi.add_short(1, {1}).add_short(2, {2});
  TempFolder dir;
  const std::string files[] = {
      dir.write_file("casio.jpg", maker_note_jpeg("CASIO", casio_qvc_note(casio))),
      dir.write_file("asahi.jpg", maker_note_jpeg("Asahi", std::string("AOC\0MM", 6) + plain_note(asahi))),
  };
  ExaminerExifTimeSource source;
  for (const std::string& path : files) {
    std::string text;
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    EXPECT_TRUE(source.exif_time_text(path.c_str(), &text)) << path;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << path;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << path;
  }
  // The examiner's other walks still warn.
  ExaminerContext* context = new_examiner_context(nullptr, print_nothing);
  testing::internal::CaptureStderr();
  EXPECT_TRUE(walk_file(files[0].c_str(), context, true));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "(null): Casio maker note version not supported\n");
  free_examiner_context(context);
}

TEST(HashKeyTest, TheBaseNameFollowsTheLastSlash) {
  EXPECT_EQ(hash_key_base_name("/photos/2009/a.jpg"), "a.jpg");
  EXPECT_EQ(hash_key_base_name("a.jpg"), "a.jpg");
  EXPECT_EQ(hash_key_base_name("/photos/x\\y.jpg"), "x\\y.jpg");
  EXPECT_EQ(hash_key_base_name("c:\\dir\\z/w.jpg"), "w.jpg");
  EXPECT_EQ(hash_key_base_name("b\\c.jpg"), "b\\c.jpg");
  EXPECT_EQ(hash_key_base_name("/photos/"), "");
}

TEST(HashKeyTest, KeysAreNameSizeLocalModificationTimeAndExifTime) {
  FixedZone zone;
  TempFolder folder;
  FakeExifTimes exif;
  exif.times = {{"plain.jpg", "2009:01:02 03:04:05"},
                {"empty.jpg", ""},
                {"slash.jpg", "/"},
                {"long.jpg", std::string(120, 'e')}};
  struct Case {
    const char* name;
    bool ok;
    std::string key;
  };
  const Case cases[] = {
      {"plain.jpg", true, std::string("plain.jpg/5/") + kModifiedLocal + "/2009:01:02 03:04:05"},
      {"empty.jpg", true, std::string("empty.jpg/5/") + kModifiedLocal + "/[no exif time]"},
      {"slash.jpg", true, std::string("slash.jpg/5/") + kModifiedLocal + "/[no exif time]"},
      {"long.jpg", true, std::string("long.jpg/5/") + kModifiedLocal + "/" + std::string(99, 'e')},
      // The examination failed: the key is still made, the result is false.
      {"noexif.jpg", false, std::string("noexif.jpg/5/") + kModifiedLocal + "/[no exif time]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = folder.write_file(c.name, "12345");
    set_mtime(path, kModified);
    std::string key;
    EXPECT_EQ(make_hash_key(nullptr, exif, path.c_str(), &key), c.ok);
    EXPECT_EQ(key, c.key);
  }

  std::string key;
  EXPECT_FALSE(make_hash_key(nullptr, exif, folder.sub("missing.jpg").c_str(), &key));
  EXPECT_EQ(key, "missing.jpg/0/[no modtime]/[no exif time]");

  EXPECT_EQ(hash_key_display("a.jpg/5/2009-01-02 06:04:05/[no exif time]"),
            "a.jpg - 5 - 2009-01-02 06:04:05 - [no exif time]");
}

TEST(HashKeyTest, ACameraJpegKeyCarriesTheTimesItsExifRecords) {
  FixedZone zone;
  TempFolder folder;
  std::string contents = testing_support::read_file(CORVELLA_FIXTURES "/jpeg/canon_powershot_s330.jpg");
  ASSERT_FALSE(contents.empty());
  std::string path = folder.write_file("IMG_0001.JPG", contents);
  set_mtime(path, kModified);
  ExaminerExifTimeSource exif;
  std::string key;
  uint8_t digest[64];
  EXPECT_TRUE(make_hash_key(digest, exif, path.c_str(), &key));
  EXPECT_EQ(key, "IMG_0001.JPG/" + std::to_string(contents.size()) + "/" + kModifiedLocal +
                     "/2002:11:16 15:27:01/2002:11:18 22:46:09");
  EXPECT_NE(hash_to_hex(digest), std::string(128, '0'));

  // The examiner's own file is closed after every walk.
  size_t open_before = open_descriptors();
  for (int i = 0; i < 20; ++i) make_hash_key(nullptr, exif, path.c_str(), &key);
  EXPECT_EQ(open_descriptors(), open_before);
}

// Keys were first made with a 32-bit size field; larger files keep its
// wrapped, signed value.
TEST(HashKeyTest, SizesAboveTwoGibibytesKeepTheir32BitValue) {
  FixedZone zone;
  TempFolder folder;
  FakeExifTimes exif;
  std::string path = folder.write_file("big.tif", "");
  ASSERT_EQ(truncate(path.c_str(), 3LL << 30), 0);  // sparse: nothing is written
  set_mtime(path, kModified);
  std::string key;
  make_hash_key(nullptr, exif, path.c_str(), &key);
  EXPECT_EQ(key, std::string("big.tif/-1073741824/") + kModifiedLocal + "/[no exif time]");
}

TEST(HashKeyTest, TheDigestIsOfTheWholeFileAndZeroWhenItCannotBeRead) {
  TempFolder folder;
  FakeExifTimes exif;
  exif.times = {{"abc.jpg", "t"}, {"pipe.jpg", "t"}};
  std::string path = folder.write_file("abc.jpg", "abc");
  uint8_t digest[64];
  std::string key;
  EXPECT_TRUE(make_hash_key(digest, exif, path.c_str(), &key));
  EXPECT_EQ(hash_to_hex(digest), kAbcDigest);

  // A FIFO named like an image neither blocks nor gives a digest.
  std::string fifo = folder.sub("pipe.jpg");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(make_hash_key(digest, exif, fifo.c_str(), &key));
  EXPECT_EQ(hash_to_hex(digest), std::string(128, '0'));

  EXPECT_FALSE(hash_file_digest(folder.sub("missing.jpg").c_str(), digest));
  EXPECT_EQ(hash_to_hex(digest), std::string(128, '0'));
}

class HashContextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(db_open(db_, folder_.sub("qx_main.sqlite3")));
    auto exif = std::make_unique<FakeExifTimes>();
    exif_ = exif.get();
    exif_->times = {{"a.jpg", "2009:01:02 03:04:05"}, {"b.jpg", "2009:01:02 03:04:05"}};
    hashes_ = std::make_unique<HashContext>(db_, log_, std::move(exif));
    hashes_->set_check_hashes(true);
  }

  std::string image(const std::string& name, const std::string& contents) {
    std::string path = folder_.write_file(name, contents);
    set_mtime(path, kModified);
    return path;
  }

  FixedZone zone_;
  TempFolder folder_;
  RunLog log_;
  Database db_{log_};
  FakeExifTimes* exif_ = nullptr;
  std::unique_ptr<HashContext> hashes_;
};

TEST_F(HashContextTest, WithCheckHashesOffEveryFilePasses) {
  hashes_->set_check_hashes(false);
  bool no_reference = false;
  EXPECT_TRUE(hashes_->hash_check(image("one/a.jpg", "x").c_str(), &no_reference, nullptr));
  EXPECT_EQ(exif_->calls, 0);
}

// A copy moved to another folder keeps its key and passes; a renamed file
// has no reference; changed bytes under the same key fail and name the
// folder of the reference.
TEST_F(HashContextTest, StoredReferencesFollowTheImageNotItsPath) {
  const std::string contents(5000, 'q');
  std::string original = image("one/a.jpg", contents);
  ASSERT_TRUE(hashes_->hash_store(original.c_str()));
  EXPECT_TRUE(hashes_->hash_exists(original.c_str()));

  bool no_reference = true;
  std::string reference_folder = "unset";
  EXPECT_TRUE(hashes_->hash_check(original.c_str(), &no_reference, &reference_folder));
  EXPECT_FALSE(no_reference);

  std::string moved = image("two/a.jpg", contents);
  EXPECT_TRUE(hashes_->hash_check(moved.c_str(), &no_reference, &reference_folder));
  EXPECT_EQ(reference_folder, "unset");

  std::string renamed = image("two/b.jpg", contents);
  EXPECT_FALSE(hashes_->hash_exists(renamed.c_str()));
  EXPECT_FALSE(hashes_->hash_check(renamed.c_str(), &no_reference, &reference_folder));
  EXPECT_TRUE(no_reference);

  std::string altered_contents = contents;
  altered_contents[4000] = 'Q';
  std::string altered = image("three/a.jpg", altered_contents);
  EXPECT_FALSE(hashes_->hash_check(altered.c_str(), &no_reference, &reference_folder));
  EXPECT_FALSE(no_reference);
  EXPECT_EQ(reference_folder, folder_.sub("one"));
  compareFiles(log_, reference_folder.c_str(), altered.c_str());
  EXPECT_EQ(log_.text(), "\tFiles have different contents\r\n");

  // A file changed in place gets a new modification time and so a new key.
  set_mtime(original, kModified + 60);
  EXPECT_FALSE(hashes_->hash_check(original.c_str(), &no_reference, nullptr));
  EXPECT_TRUE(no_reference);
}

TEST_F(HashContextTest, StoringAgainMovesTheReferenceToTheLatestFolder) {
  std::string first = image("one/a.jpg", "v1");
  std::string second = image("two/a.jpg", "v2");
  ASSERT_TRUE(hashes_->hash_store(first.c_str()));
  ASSERT_TRUE(hashes_->hash_store(second.c_str()));
  bool no_reference = true;
  std::string reference_folder;
  EXPECT_TRUE(hashes_->hash_check(second.c_str(), &no_reference, nullptr));
  EXPECT_FALSE(hashes_->hash_check(first.c_str(), &no_reference, &reference_folder));
  EXPECT_FALSE(no_reference);
  EXPECT_EQ(reference_folder, folder_.sub("two"));
}

TEST_F(HashContextTest, AFileThatCannotBeReadIsNeverStored) {
  std::string fifo = folder_.sub("a.jpg");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(hashes_->hash_store(fifo.c_str()));
  int keys = -1;
  EXPECT_TRUE(db_query_int(db_, "select count(*) from hash_key", &keys));
  EXPECT_EQ(keys, 0);
  EXPECT_EQ(log_.text(), "");
}

TEST_F(HashContextTest, WithoutADatabaseChecksFailAsNoReference) {
  db_close(db_);
  std::string path = image("one/a.jpg", "x");
  bool no_reference = false;
  EXPECT_FALSE(hashes_->hash_check(path.c_str(), &no_reference, nullptr));
  EXPECT_TRUE(no_reference);
  EXPECT_FALSE(hashes_->hash_store(path.c_str()));
  EXPECT_EQ(log_.text(), "\r\nDB ERROR: no database open\r\n\r\nDB ERROR: no database open\r\n");
}

TEST(CompareFilesTest, OneVerdictPerComparison) {
  TempFolder folder;
  const std::string piece(1024, 'p');
  struct Case {
    const char* name;
    std::string mine;     // the checked file's contents
    std::string theirs;   // the reference file's contents
    const char* verdict;
  };
  const Case cases[] = {
      {"same", piece + "tail", piece + "tail", "\t***** Files are identical (hashing problem) *****\r\n"},
      {"empty", "", "", "\t***** Files are identical (hashing problem) *****\r\n"},
      {"contents", piece + "tail", piece + "tall", "\tFiles have different contents\r\n"},
      {"shorter in a piece", "abc", "abcd", "\tFiles have different sizes\r\n"},
      {"longer", piece + "x", piece, "\tFiles have different sizes\r\n"},
      // The checked file ends at a piece boundary while the other goes on.
      {"shorter at a piece boundary", piece, piece + "x", "\tFiles are different sizes\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string name = std::string(c.name) + ".jpg";
    std::string mine = folder.write_file("mine/" + name, c.mine);
    folder.write_file("theirs/" + name, c.theirs);
    RunLog log;
    compareFiles(log, folder.sub("theirs").c_str(), mine.c_str());
    EXPECT_EQ(log.text(), c.verdict);
  }
}

TEST(CompareFilesTest, AReferenceStoredFromTheFileItselfSaysTheFileHasChanged) {
  // The file was changed in place after its reference was stored from its
  // own folder: the "other" file is the file itself, whatever name leads to
  // it, and comparing it with itself would blame the hashing.
  TempFolder folder;
  const std::string contents(3000, 'c');
  std::string mine = folder.write_file("shoot/a.jpg", contents);
  platform::make_folder(folder.sub("linked"));
  ASSERT_EQ(link(mine.c_str(), folder.sub("linked/a.jpg").c_str()), 0);
  ASSERT_EQ(symlink(folder.sub("shoot").c_str(), folder.sub("shortcut").c_str()), 0);
  folder.write_file("copy/a.jpg", contents);
  const char* const changed = "\tFile has changed since its reference hash was stored\r\n";
  struct Case {
    std::string folder;
    const char* verdict;
  };
  const Case cases[] = {
      {folder.sub("shoot"), changed},
      {folder.sub("shoot/"), changed},
      {folder.sub("shortcut"), changed},  // a folder reached through a link
      {folder.sub("linked"), changed},    // a second name of the same file
      // A copy in another folder is still compared.
      {folder.sub("copy"), "\t***** Files are identical (hashing problem) *****\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    RunLog log;
    compareFiles(log, c.folder.c_str(), mine.c_str());
    EXPECT_EQ(log.text(), c.verdict);
  }
}

TEST(CompareFilesTest, PathsThatCannotBeComparedSaySo) {
  TempFolder folder;
  std::string mine = folder.write_file("mine/a\\b.jpg", "x");
  folder.write_file("theirs/a\\b.jpg", "x");
  struct Case {
    std::string folder;
    std::string path;
    const char* verdict;
  };
  const Case cases[] = {
      // A backslash is part of the file name here, not a separator.
      {folder.sub("theirs"), mine, "\t***** Files are identical (hashing problem) *****\r\n"},
      {folder.sub("nowhere"), mine, "\tCan't open path - no file comparison possible\r\n"},
      {folder.sub("theirs"), folder.sub("mine/missing.jpg"), "\tCan't open path - no file comparison possible\r\n"},
      // 1200 characters is too long; 1199 is not.
      {folder.sub("theirs"), "/" + std::string(1199, 'p'), "\tCan't compare files - path too long\r\n"},
      {"", "/" + std::string(1198, 'p'), "\tCan't open path - no file comparison possible\r\n"},
      // Folder, "/" and base name together: 1200 is too long; 1199 is not.
      {std::string(1194, 'd'), "/x/a.jpg", "\tCan't compare files - dir and file name too long\r\n"},
      {std::string(1193, 'd'), "/x/a.jpg", "\tCan't open path - no file comparison possible\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.substr(0, 80));
    RunLog log;
    compareFiles(log, c.folder.c_str(), c.path.c_str());
    EXPECT_EQ(log.text(), c.verdict);
  }
}

}  // namespace
