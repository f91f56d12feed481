// The DNG side of XMP: reads, writes, parsing and serialising of one tree,
// and how every toolkit failure becomes a DNG code (100000, 100005, 100006)
// or a plain false, with the lock left free.
#include "dng/parse/dng_xmp_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dng/core/dng_host.h"
#include "dng/core/dng_memory_allocator.h"
#include "dng/core/dng_memory_block.h"
#include "dng/core/dng_text.h"
#include "dng/core/dng_text_list.h"
#include "dng/parse/dng_iptc.h"
#include "dng/parse/txmp_meta.h"
#include "dng/support/code_of.h"
#include "dng/support/stderr_capture.h"
#include "xmp_glue_test_util.h"

namespace {

using dng_test::AllocationFailure;
using dng_test::code_of;
using dng_test::kNsDC;
using dng_test::kNsExample;
using dng_test::kNsExif;
using dng_test::kNsPhotoshop;
using dng_test::StderrCapture;
using dng_test::toolkit_lock_free;
using dng_test::xmp_packet;

const std::string kUnknown = "*** Error: Unknown error ***\n";
const std::string kInvalid = "*** Error: File format is invalid ***\n";
const std::string kMemory = "*** Error: Unable to allocate memory ***\n";

const std::string kSample = xmp_packet(
    "<photoshop:Headline>Head</photoshop:Headline>"
    "<dc:subject><rdf:Bag><rdf:li>one</rdf:li><rdf:li>two</rdf:li></rdf:Bag></dc:subject>"
    "<dc:description><rdf:Alt><rdf:li xml:lang='x-default'>Desc</rdf:li></rdf:Alt></dc:description>"
    "<exif:Flash rdf:parseType='Resource'><exif:Fired>True</exif:Fired></exif:Flash>"
    "<ex:Plain>plain</ex:Plain>");

class DngXmpStoreTest : public dng_test::XmpGlueTest {
 protected:
  void Parse(const std::string& packet) { store_.ParsePacket(host_, packet.data(), static_cast<uint32_t>(packet.size())); }

  std::string Text(const char* ns, const char* path) {
    dng_text text;
    return store_.GetText(ns, path, text) ? text.CStr() : "(absent)";
  }

  dng_host host_;
  dng_xmp_store store_;
};

std::string list_text(const dng_text_list& list) {
  std::string out;
  for (uint32_t i = 0; i < list.Count(); ++i) out += std::string(i ? "|" : "") + list[i].CStr();
  return out;
}

TEST(DngXmpStoreWithoutTree, ReadsAnswerFalseWithoutStartingTheToolkit) {
  dng_xmp_store store;
  dng_text text("unchanged");
  dng_text_list list;
  EXPECT_FALSE(store.HoldsMeta());
  EXPECT_FALSE(store.GetText(kNsDC, "dc:format", text));
  EXPECT_FALSE(store.GetTextList(kNsDC, "dc:subject", list));
  EXPECT_FALSE(store.GetDefaultLangText(kNsDC, "dc:title", text));
  EXPECT_FALSE(store.GetFieldText(kNsExif, "exif:Flash", kNsExif, "exif:Fired", text));
  EXPECT_FALSE(store.ItemExists(kNsDC, "dc:format"));
  store.DeleteItem(kNsDC, "dc:format");
  EXPECT_EQ(store.SerializeToBlock(default_memory_allocator, true, 0, 0), nullptr);
  EXPECT_STREQ(text.CStr(), "unchanged");
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_FALSE(xmp_toolkit_started());
}

TEST_F(DngXmpStoreTest, ReadsOfAParsedPacket) {
  Parse(kSample);
  ASSERT_TRUE(store_.HoldsMeta());
  dng_text text;
  dng_text_list list;
  EXPECT_EQ(Text(kNsPhotoshop, "photoshop:Headline"), "Head");
  EXPECT_EQ(Text(kNsPhotoshop, "photoshop:Missing"), "(absent)");
  EXPECT_TRUE(store_.GetTextList(kNsDC, "dc:subject", list));
  EXPECT_EQ(list_text(list), "one|two");
  EXPECT_TRUE(store_.GetDefaultLangText(kNsDC, "dc:description", text));
  EXPECT_STREQ(text.CStr(), "Desc");
  EXPECT_TRUE(store_.GetFieldText(kNsExif, "exif:Flash", kNsExif, "exif:Fired", text));
  EXPECT_STREQ(text.CStr(), "True");
  EXPECT_TRUE(store_.ItemExists(kNsExample, "ex:Plain"));
  EXPECT_FALSE(store_.ItemExists(kNsExample, "ex:Other"));
  store_.DeleteItem(kNsExample, "ex:Plain");
  EXPECT_FALSE(store_.ItemExists(kNsExample, "ex:Plain"));
  EXPECT_TRUE(toolkit_lock_free());
}

// A read that cannot be answered (bad path, unknown namespace, a composite
// where a value is asked) is a missing property; nothing is printed.
TEST_F(DngXmpStoreTest, UnreadablePropertiesAreAbsent) {
  Parse(kSample);
  struct Case {
    const char* label;
    std::function<bool()> read;
  };
  dng_text text;
  dng_text_list list;
  const Case cases[] = {
      {"unregistered namespace", [&] { return store_.GetText("http://example.com/unknown/", "u:p", text); }},
      {"empty path", [&] { return store_.GetText(kNsDC, "", text); }},
      {"malformed path", [&] { return store_.GetText(kNsDC, "dc:subject[", text); }},
      {"array of a simple property", [&] { return store_.GetTextList(kNsExample, "ex:Plain", list); }},
      {"field of a simple property",
       [&] { return store_.GetFieldText(kNsExample, "ex:Plain", kNsExample, "ex:f", text); }},
      {"exists with empty schema", [&] { return store_.ItemExists("", "dc:subject"); }},
  };
  for (const Case& c : cases) {
    StderrCapture err;
    EXPECT_FALSE(c.read()) << c.label;
    EXPECT_EQ(err.Take(), "") << c.label;
    EXPECT_TRUE(toolkit_lock_free()) << c.label;
  }
  store_.DeleteItem("", "dc:subject");  // ignored
  EXPECT_EQ(list.Count(), 0u);
}

TEST_F(DngXmpStoreTest, ReadsOutOfMemoryRaise100005WithTheLockFree) {
  const std::string long_value(20000, 'x');
  store_.SetValue(kNsExample, "ex:Long", long_value.c_str());
  dng_text_list long_list;
  long_list.Append(dng_text(long_value.c_str()));
  store_.SetTextList(kNsExample, "ex:List", long_list, false);
  struct Case {
    const char* label;
    std::function<void()> read;
  };
  dng_text text;
  dng_text_list list;
  const Case cases[] = {
      {"text", [&] { store_.GetText(kNsExample, "ex:Long", text); }},
      {"list", [&] { store_.GetTextList(kNsExample, "ex:List", list); }},
  };
  for (const Case& c : cases) {
    StderrCapture err;
    int32_t code = 0;
    {
      AllocationFailure failure = AllocationFailure::AtLeast(long_value.size());
      code = code_of(c.read);
    }
    EXPECT_EQ(code, 100005) << c.label;
    EXPECT_EQ(err.Take(), kMemory) << c.label;
    EXPECT_TRUE(toolkit_lock_free()) << c.label;
  }
}

// Exhausted memory at each allocation of a read or a write in turn, inside
// the toolkit too: 100005, or the right answer when the failure cost
// nothing; a read never answers that the property is absent, a write never
// fails as the toolkit's own error.
TEST_F(DngXmpStoreTest, ReadsAndWritesOutOfMemoryAtEachAllocationGive100005) {
  struct Case {
    const char* label;
    std::function<bool()> answer;  // the operation; true when it answered right
    std::function<bool()> after;   // checked once the operation has passed
  };
  auto text_is = [](const dng_text& t, const char* want) { return std::string(t.CStr()) == want; };
  const Case cases[] = {
      {"text",
       [&] {
         dng_text t;
         return store_.GetText(kNsPhotoshop, "photoshop:Headline", t) && text_is(t, "Head");
       },
       [] { return true; }},
      {"list",
       [&] {
         dng_text_list l;
         return store_.GetTextList(kNsDC, "dc:subject", l) && list_text(l) == "one|two";
       },
       [] { return true; }},
      {"default-language text",
       [&] {
         dng_text t;
         return store_.GetDefaultLangText(kNsDC, "dc:description", t) && text_is(t, "Desc");
       },
       [] { return true; }},
      {"struct field",
       [&] {
         dng_text t;
         return store_.GetFieldText(kNsExif, "exif:Flash", kNsExif, "exif:Fired", t) && text_is(t, "True");
       },
       [] { return true; }},
      {"exists", [&] { return store_.ItemExists(kNsExample, "ex:Plain"); }, [] { return true; }},
      {"set value",
       [&] {
         store_.SetValue(kNsExample, "ex:Plain", "replaced");
         return true;
       },
       [&] { return Text(kNsExample, "ex:Plain") == "replaced"; }},
  };
  for (const Case& c : cases) {
    bool passed = false;
    for (uint64_t n = 1; n < 5000 && !passed; ++n) {
      Parse(kSample);
      StderrCapture err;
      int32_t code = 0;
      bool right = false;
      bool failed = false;
      {
        AllocationFailure failure = AllocationFailure::Nth(n);
        code = code_of([&] { right = c.answer(); });
        failed = failure.Failed();
      }
      std::string printed = err.Take();
      if (code == 0) {
        EXPECT_TRUE(right) << c.label << " " << n;
        EXPECT_TRUE(c.after()) << c.label << " " << n;
        EXPECT_EQ(printed, "") << c.label << " " << n;
        passed = !failed;
      } else {
        EXPECT_EQ(code, 100005) << c.label << " " << n;
        EXPECT_EQ(printed, kMemory) << c.label << " " << n;
      }
      ASSERT_TRUE(toolkit_lock_free()) << c.label << " " << n;
    }
    EXPECT_TRUE(passed) << c.label;
  }
}

TEST_F(DngXmpStoreTest, DamagedPacketsGive100006AndLeaveNoTree) {
  const std::string cases[] = {
      "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF",         // cut short
      "<x:xmpmeta xmlns:x='adobe:ns:meta/'></x:other>",      // not well-formed
      xmp_packet("<undeclared:Prop>v</undeclared:Prop>"),    // unbound prefix
      xmp_packet("<ex:Bad rdf:resource='a'>text</ex:Bad>"),  // RDF that is not allowed
  };
  for (const std::string& packet : cases) {
    Parse(kSample);
    ASSERT_TRUE(store_.HoldsMeta());
    StderrCapture err;
    EXPECT_EQ(code_of([&] { Parse(packet); }), 100006) << packet;
    EXPECT_EQ(err.Take(), kUnknown + kInvalid) << packet;
    EXPECT_FALSE(store_.HoldsMeta()) << packet;
    EXPECT_TRUE(toolkit_lock_free()) << packet;
  }
}

// Exhausted memory at each allocation of a parse in turn, in the client
// object, the toolkit or Expat: 100005 every time, never a damaged packet.
TEST_F(DngXmpStoreTest, ParseOutOfMemoryAtEachAllocation) {
  bool parsed = false;
  for (uint64_t n = 1; n < 5000 && !parsed; ++n) {
    StderrCapture err;
    int32_t code = 0;
    bool failed = false;
    {
      AllocationFailure failure = AllocationFailure::Nth(n);
      code = code_of([&] { Parse(kSample); });
      failed = failure.Failed();
    }
    std::string printed = err.Take();
    if (!failed) {
      EXPECT_EQ(code, 0) << n;
      parsed = true;
    } else {
      EXPECT_EQ(code, 100005) << n;
      EXPECT_EQ(printed, kMemory) << n;
    }
    EXPECT_EQ(store_.HoldsMeta(), code == 0) << n;
    ASSERT_TRUE(toolkit_lock_free()) << n;
  }
  EXPECT_TRUE(parsed);
  EXPECT_EQ(Text(kNsPhotoshop, "photoshop:Headline"), "Head");
}

TEST_F(DngXmpStoreTest, WriteFailuresRaise100000AndMemory100005) {
  const dng_text bad_utf8("caf\xE9");
  dng_text_list bad_list;
  bad_list.Append(dng_text("good"));
  bad_list.Append(bad_utf8);
  struct Case {
    const char* label;
    std::function<void()> write;
    int32_t code;
    std::string printed;
  };
  const Case cases[] = {
      {"text that is not UTF-8", [&] { store_.SetText(kNsPhotoshop, "photoshop:Caption", bad_utf8); }, 100000,
       kUnknown},
      {"value with an empty path", [&] { store_.SetValue(kNsPhotoshop, "", "v"); }, 100000, kUnknown},
      {"value in an unregistered namespace", [&] { store_.SetValue("http://example.com/unknown/", "u:p", "v"); },
       100000, kUnknown},
      {"list item that is not UTF-8", [&] { store_.SetTextList(kNsDC, "dc:subject", bad_list, true); }, 100000,
       kUnknown},
      {"struct field that is not UTF-8",
       [&] { store_.SetFieldText(kNsExif, "exif:Flash", kNsExif, "exif:Fired", bad_utf8); }, 100000, kUnknown},
      {"new tree when the toolkit runs out of memory",
       [&] {
         // The first allocation is the client object, the second the
         // toolkit's tree.
         AllocationFailure failure = AllocationFailure::Nth(2);
         store_.MakeMeta();
       },
       100005, kMemory},
      {"new tree when the client object cannot be allocated",
       [&] {
         AllocationFailure failure = AllocationFailure::Nth(1);
         store_.MakeMeta();
       },
       100005, kMemory},
  };
  for (const Case& c : cases) {
    store_.MakeMeta();
    StderrCapture err;
    EXPECT_EQ(code_of(c.write), c.code) << c.label;
    EXPECT_EQ(err.Take(), c.printed) << c.label;
    EXPECT_TRUE(toolkit_lock_free()) << c.label;
  }
}

TEST_F(DngXmpStoreTest, StoredTextsHaveLFLineEndsAndNoControlBytes) {
  struct Case {
    const char* given;
    const char* stored;
  };
  const Case cases[] = {
      {"a\r\nb", "a\nb"},  {"a\rb", "a\nb"},         {"a\n\rb", "a\nb"},   {"a\r\r\nb", "a\n\nb"},
      {"a\tb", "ab"},      {"\x01x\x1F\x0By", "xy"}, {"x\x7Fy", "x\x7Fy"}, {"caf\xC3\xA9", "caf\xC3\xA9"},
  };
  for (const Case& c : cases) {
    store_.SetText(kNsPhotoshop, "photoshop:Caption", dng_text(c.given));
    EXPECT_EQ(Text(kNsPhotoshop, "photoshop:Caption"), c.stored) << c.given;

    store_.SetDefaultLangText(kNsDC, "dc:rights", dng_text(c.given));
    dng_text text;
    ASSERT_TRUE(store_.GetDefaultLangText(kNsDC, "dc:rights", text));
    EXPECT_STREQ(text.CStr(), c.stored) << c.given;

    dng_text_list given;
    given.Append(dng_text(c.given));
    store_.SetTextList(kNsDC, "dc:subject", given, true);
    dng_text_list read;
    ASSERT_TRUE(store_.GetTextList(kNsDC, "dc:subject", read));
    EXPECT_EQ(list_text(read), c.stored) << c.given;
  }
}

TEST_F(DngXmpStoreTest, TextListsReplaceTheArrayWithTheRightForm) {
  struct Case {
    const char* label;
    std::vector<const char*> items;
    bool unordered;
    bool exists;
    XMP_OptionBits form;  // array bits of the stored property
  };
  const Case cases[] = {
      {"unordered", {"a", "b"}, true, true, 0x200},
      {"ordered", {"c"}, false, true, 0x200 | 0x400},
      {"empty list removes the property", {}, true, false, 0},
  };
  for (const Case& c : cases) {
    Parse(kSample);  // dc:subject holds "one" and "two"
    dng_text_list list;
    std::string expected;
    for (const char* item : c.items) {
      list.Append(dng_text(item));
      expected += std::string(expected.empty() ? "" : "|") + item;
    }
    store_.SetTextList(kNsDC, "dc:subject", list, c.unordered);
    EXPECT_EQ(store_.ItemExists(kNsDC, "dc:subject"), c.exists) << c.label;
    if (!c.exists) continue;
    dng_text_list read;
    ASSERT_TRUE(store_.GetTextList(kNsDC, "dc:subject", read));
    EXPECT_EQ(list_text(read), expected) << c.label;
    XMP_OptionBits options = 0;
    ASSERT_TRUE(store_.Meta()->GetProperty(kNsDC, "dc:subject", nullptr, &options));
    EXPECT_EQ(options & 0x1E00, c.form) << c.label;
  }
}

// A value over a composite property fails once; the property is then
// deleted and the value stored.
TEST_F(DngXmpStoreTest, SetValueReplacesACompositeProperty) {
  Parse(kSample);
  StderrCapture err;
  store_.SetValue(kNsDC, "dc:subject", "simple now");
  EXPECT_EQ(err.Take(), "");
  EXPECT_EQ(Text(kNsDC, "dc:subject"), "simple now");
}

TEST_F(DngXmpStoreTest, WritesWithoutATreeMakeOne) {
  const std::function<void(dng_xmp_store&)> writes[] = {
      [](dng_xmp_store& s) { s.SetText(kNsExample, "ex:T", dng_text("t")); },
      [](dng_xmp_store& s) { s.SetDefaultLangText(kNsDC, "dc:title", dng_text("t")); },
      [](dng_xmp_store& s) { s.SetFieldText(kNsExample, "ex:S", kNsExample, "ex:F", dng_text("t")); },
      [](dng_xmp_store& s) {
        dng_text_list list;
        list.Append(dng_text("t"));
        s.SetTextList(kNsDC, "dc:subject", list, false);
      },
  };
  for (const auto& write : writes) {
    dng_xmp_store store;
    write(store);
    EXPECT_TRUE(store.HoldsMeta());
  }
  dng_xmp_store store;
  store.SetTextList(kNsDC, "dc:subject", dng_text_list(), false);
  EXPECT_FALSE(store.HoldsMeta());
}

TEST_F(DngXmpStoreTest, CopiesShareTheTree) {
  dng_xmp_store empty_copy(store_);
  EXPECT_FALSE(empty_copy.HoldsMeta());

  Parse(kSample);
  auto copy = std::make_unique<dng_xmp_store>(store_);
  copy->SetText(kNsExample, "ex:FromCopy", dng_text("shared"));
  EXPECT_EQ(Text(kNsExample, "ex:FromCopy"), "shared");
  copy.reset();
  EXPECT_EQ(Text(kNsPhotoshop, "photoshop:Headline"), "Head");
}

TEST_F(DngXmpStoreTest, SerializedBlocks) {
  Parse(kSample);
  struct Case {
    const char* label;
    bool packet;
    uint32_t target;
    uint32_t padding;
    bool wrapper;
    uint32_t exact_size;  // 0: any
  };
  const Case cases[] = {
      {"exact packet length", true, 8192, 0, true, 8192},
      {"target too small falls back to padding", true, 100, 0, true, 0},
      {"padded packet", true, 0, 2048, true, 0},
      {"no wrapper", false, 8192, 2048, false, 0},
  };
  for (const Case& c : cases) {
    std::unique_ptr<dng_memory_block> block =
        store_.SerializeToBlock(default_memory_allocator, c.packet, c.target, c.padding);
    ASSERT_NE(block, nullptr) << c.label;
    std::string text(reinterpret_cast<const char*>(block->Buffer()), block->Size());
    if (c.exact_size != 0) {
      EXPECT_EQ(block->Size(), c.exact_size) << c.label;
    }
    EXPECT_EQ(text.rfind("<?xpacket", 0) == 0, c.wrapper) << c.label;
    if (c.packet && c.target == 0) {
      EXPECT_GE(block->Size(), c.padding) << c.label;
    }

    dng_xmp_store reread;
    reread.ParsePacket(host_, block->Buffer(), block->Size());
    dng_text text_read;
    ASSERT_TRUE(reread.GetText(kNsPhotoshop, "photoshop:Headline", text_read)) << c.label;
    EXPECT_STREQ(text_read.CStr(), "Head") << c.label;
    dng_text_list list;
    ASSERT_TRUE(reread.GetTextList(kNsDC, "dc:subject", list)) << c.label;
    EXPECT_EQ(list_text(list), "one|two") << c.label;
  }
  EXPECT_TRUE(toolkit_lock_free());
}

// An IPTC caption under the UTF-8 marker is taken as UTF-8 without a check,
// and storing one that is not UTF-8 fails the write with 100000; without
// the marker the same bytes are converted from the system code page.
TEST_F(DngXmpStoreTest, IptcTextsThatAreNotUTF8FailTheWrite) {
  const std::string marker("\x1C\x01\x5A\x00\x03\x1B\x25\x47", 8);
  const std::string caption("\x1C\x02\x78\x00\x03" "a\xFF" "b", 8);
  struct Case {
    std::string block;
    int32_t code;
    std::string printed;
    std::string stored;
  };
  const Case cases[] = {
      {marker + caption, 100000, kUnknown, "(absent)"},
      {caption, 0, "", "a\xC3\xBF" "b"},
  };
  for (const Case& c : cases) {
    dng_iptc record;
    record.LoadBlock(c.block.data(), static_cast<uint32_t>(c.block.size()), 0);
    store_.MakeMeta();
    StderrCapture err;
    EXPECT_EQ(code_of([&] { store_.SetText(kNsPhotoshop, "photoshop:Caption", record.caption); }), c.code);
    EXPECT_EQ(err.Take(), c.printed);
    EXPECT_EQ(Text(kNsPhotoshop, "photoshop:Caption"), c.stored);
  }
}

}  // namespace
