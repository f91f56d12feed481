// The client class over the call layer: every read copies the toolkit's
// text and leaves the toolkit lock, also when it finds nothing, fails, or
// runs out of memory while copying; failures arrive as XMP_Error; copies
// share one counted metadata object.
#include "dng/parse/txmp_meta.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <string>

#include "xmp_glue_test_util.h"
#include "xmp/xmp_call.h"
#include "xmp/xmp_error.h"

namespace {

using dng_test::AllocationFailure;
using dng_test::kNsDC;
using dng_test::kNsExample;
using dng_test::toolkit_lock_free;

class TXMPMetaTest : public dng_test::XmpGlueTest {
 protected:
  void SetUp() override {
    XmpGlueTest::SetUp();
    meta_ = std::make_unique<TXMPMeta>();
    meta_->SetProperty(kNsExample, "ex:simple", long_value_.c_str(), 0);
    meta_->SetStructField(kNsExample, "ex:struct", kNsExample, "ex:field", "field value", 0);
    meta_->SetLocalizedText(kNsDC, "dc:title", "", "x-default", "Title", 0);
    XMPCallResult result;
    XMPCall_AppendArrayItem(meta_->Handle(), kNsDC, "dc:subject", 0x200, "one", 0, &result);
    ASSERT_EQ(result.message, nullptr);
  }
  void TearDown() override {
    meta_.reset();
    XmpGlueTest::TearDown();
  }

  // Long enough that only the client's copy asks for a block this large.
  const std::string long_value_ = std::string(20000, 'v');
  std::unique_ptr<TXMPMeta> meta_;
};

struct Outcome {
  std::string value;    // what the read gave, "missing", or "XMP_Error <id>", "bad_alloc"
  bool lock_free;
};

Outcome run(const std::function<std::string()>& read) {
  Outcome outcome;
  try {
    outcome.value = read();
  } catch (const XMP_Error& e) {
    outcome.value = "XMP_Error " + std::to_string(e.GetID()) + " " + e.GetErrMsg();
  } catch (const std::bad_alloc&) {
    outcome.value = "bad_alloc";
  }
  outcome.lock_free = toolkit_lock_free();
  return outcome;
}

TEST_F(TXMPMetaTest, EveryReadLeavesTheLockFree) {
  TXMPMeta& m = *meta_;
  auto found = [](bool f, const std::string& v) { return f ? v : std::string("missing"); };
  struct Case {
    const char* label;
    std::function<std::string()> read;
    std::string expected;
  };
  const Case cases[] = {
      {"property found",
       [&] {
         std::string v;
         bool f = m.GetProperty(kNsExample, "ex:simple", &v, nullptr);
         return found(f, v.substr(0, 3));
       },
       "vvv"},
      {"property found, no out string", [&] { return found(m.GetProperty(kNsExample, "ex:simple", nullptr, nullptr), "yes"); },
       "yes"},
      {"property missing",
       [&] {
         std::string v;
         return found(m.GetProperty(kNsExample, "ex:none", &v, nullptr), v);
       },
       "missing"},
      {"property with an empty schema",
       [&] {
         std::string v;
         return found(m.GetProperty("", "ex:simple", &v, nullptr), v);
       },
       "XMP_Error 101 Empty schema namespace URI"},
      {"array item",
       [&] {
         std::string v;
         XMP_OptionBits options = 0;
         return found(m.GetArrayItem(kNsDC, "dc:subject", 1, &v, &options), v);
       },
       "one"},
      {"array item past the end",
       [&] {
         std::string v;
         return found(m.GetArrayItem(kNsDC, "dc:subject", 2, &v, nullptr), v);
       },
       "missing"},
      {"struct field",
       [&] {
         std::string v;
         return found(m.GetStructField(kNsExample, "ex:struct", kNsExample, "ex:field", &v, nullptr), v);
       },
       "field value"},
      {"struct field with an empty field name",
       [&] {
         std::string v;
         return found(m.GetStructField(kNsExample, "ex:struct", kNsExample, "", &v, nullptr), v);
       },
       "XMP_Error 102 Empty field name"},
      {"localized text",
       [&] {
         std::string lang, v;
         bool f = m.GetLocalizedText(kNsDC, "dc:title", "x-default", "x-default", &lang, &v, nullptr);
         return found(f, lang + ":" + v);
       },
       "x-default:Title"},
      {"localized text without specific language",
       [&] {
         std::string v;
         return found(m.GetLocalizedText(kNsDC, "dc:title", "", "", nullptr, &v, nullptr), v);
       },
       "XMP_Error 4 Empty specific language"},
      {"serialised packet",
       [&] {
         std::string packet;
         m.SerializeToBuffer(&packet, 0, 0, "", " ", 0);
         return packet.substr(0, 9);
       },
       "<?xpacket"},
      {"namespace definition",
       [&] {
         std::string prefix;
         TXMPMeta::DefineNamespace(kNsExample, "other", &prefix);
         return prefix;
       },
       "ex:"},
      {"has property", [&] { return std::string(m.HasProperty(kNsExample, "ex:simple") ? "yes" : "no"); }, "yes"},
      {"copy of a long value out of memory",
       [&] {
         std::string v;
         AllocationFailure failure = AllocationFailure::AtLeast(long_value_.size());
         return found(m.GetProperty(kNsExample, "ex:simple", &v, nullptr), v);
       },
       "bad_alloc"},
      {"copy of a long packet out of memory",
       [&] {
         std::string packet;
         AllocationFailure failure = AllocationFailure::AtLeast(long_value_.size());
         m.SerializeToBuffer(&packet, 0, 0, "", " ", 0);
         return packet;
       },
       "bad_alloc"},
  };
  for (const Case& c : cases) {
    Outcome outcome = run(c.read);
    EXPECT_EQ(outcome.value, c.expected) << c.label;
    EXPECT_TRUE(outcome.lock_free) << c.label;
  }
}

TEST_F(TXMPMetaTest, WriteFailuresThrowTheRecordsIdAndMessage) {
  struct Case {
    const char* label;
    std::function<void()> write;
    XMP_Int32 id;
  };
  TXMPMeta& m = *meta_;
  const Case cases[] = {
      {"empty property name", [&] { m.SetProperty(kNsExample, "", "v", 0); }, 102},
      {"unregistered namespace", [&] { m.SetProperty("http://example.com/unknown/", "u:p", "v", 0); }, 101},
      {"value that is not UTF-8", [&] { m.SetProperty(kNsExample, "ex:p", "\xFF\xFE", 0); }, 4},
      {"delete with empty schema", [&] { m.DeleteProperty("", "ex:p"); }, 101},
      {"struct field that is not UTF-8", [&] { m.SetStructField(kNsExample, "ex:s", kNsExample, "ex:f", "\xC3", 0); }, 4},
  };
  for (const Case& c : cases) {
    XMP_Int32 id = 0;
    try {
      c.write();
    } catch (const XMP_Error& e) {
      id = e.GetID();
      EXPECT_NE(e.GetErrMsg(), nullptr) << c.label;
    }
    EXPECT_EQ(id, c.id) << c.label;
    EXPECT_TRUE(toolkit_lock_free()) << c.label;
  }
}

TEST_F(TXMPMetaTest, CopiesShareOneObjectThatOutlivesTheOriginal) {
  auto copy = std::make_unique<TXMPMeta>(*meta_);
  EXPECT_EQ(copy->Handle(), meta_->Handle());
  copy->SetProperty(kNsExample, "ex:added", "by the copy", 0);
  std::string value;
  ASSERT_TRUE(meta_->GetProperty(kNsExample, "ex:added", &value, nullptr));
  EXPECT_EQ(value, "by the copy");
  meta_.reset();
  ASSERT_TRUE(copy->GetProperty(kNsExample, "ex:added", &value, nullptr));
  EXPECT_EQ(value, "by the copy");
}

}  // namespace
