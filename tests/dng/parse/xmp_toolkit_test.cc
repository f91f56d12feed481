// Starting and stopping the toolkit for DNG files: the started flag, start
// failures (answered false, thrown, out of memory) and what they print, the
// namespace list, and that every stop frees what the file's start and
// packet built, so that nothing carries over or grows across files.
#include "dng/parse/xmp_toolkit.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <string>

#include "dng/core/dng_host.h"
#include "dng/core/dng_text.h"
#include "dng/parse/dng_xmp_store.h"
#include "dng/parse/txmp_meta.h"
#include "dng/support/code_of.h"
#include "dng/support/stderr_capture.h"
#include "xmp/xmp_error.h"
#include "xmp_glue_test_util.h"

namespace {

using dng_test::AllocationFailure;
using dng_test::code_of;
using dng_test::StderrCapture;
using dng_test::xmp_packet;

const std::string kUnknown = "*** Error: Unknown error ***\n";
const std::string kMemory = "*** Error: Unable to allocate memory ***\n";

// Puts the real start step back when a test ends.
class StartStep {
 public:
  explicit StartStep(xmp_toolkit_start_fn step) : previous_(exchange_xmp_toolkit_start(step)) {}
  ~StartStep() { exchange_xmp_toolkit_start(previous_); }
  StartStep(const StartStep&) = delete;
  StartStep& operator=(const StartStep&) = delete;

 private:
  xmp_toolkit_start_fn previous_;
};

int real_starts = 0;
bool counting_start() {
  ++real_starts;
  return TXMPMeta::Initialize(nullptr, nullptr);
}

// The prefix under which a namespace is registered after asking for
// "probe": "probe:" when nobody registered it before.
std::string registered_prefix(const char* uri) {
  std::string prefix;
  TXMPMeta::DefineNamespace(uri, "probe", &prefix);
  return prefix;
}

// One DNG file's worth of XMP: start, parse a packet, read, stop.
void one_file(const std::string& packet, const char* ns, const char* path, std::string* value = nullptr) {
  xmp_toolkit_initialize();
  {
    dng_host host;
    dng_xmp_store store;
    store.ParsePacket(host, packet.data(), static_cast<uint32_t>(packet.size()));
    dng_text text;
    EXPECT_TRUE(store.GetText(ns, path, text));
    if (value != nullptr) *value = text.CStr();
  }
  xmp_toolkit_terminate();
}

TEST(XmpToolkit, StartsOnceAndStopsOnlyWhatItStarted) {
  StartStep step(&counting_start);
  real_starts = 0;
  xmp_toolkit_terminate();  // nothing started: nothing happens
  EXPECT_FALSE(xmp_toolkit_started());
  xmp_toolkit_initialize();
  xmp_toolkit_initialize();
  EXPECT_EQ(real_starts, 1);
  EXPECT_TRUE(xmp_toolkit_started());
  {
    dng_xmp_store store;
    store.MakeMeta();  // starts nothing more
    EXPECT_EQ(real_starts, 1);
  }
  xmp_toolkit_terminate();
  EXPECT_FALSE(xmp_toolkit_started());
  xmp_toolkit_terminate();
  xmp_toolkit_initialize();
  EXPECT_EQ(real_starts, 2);
  xmp_toolkit_terminate();
}

TEST(XmpToolkit, StartFailuresRaiseACodeAndLeaveTheToolkitStartable) {
  struct Case {
    const char* label;
    xmp_toolkit_start_fn step;
    int32_t code;
    std::string printed;
  };
  const Case cases[] = {
      // The false answer raises 100000, which the catch-all raises again.
      {"start answers false", [] { return false; }, 100000, kUnknown + kUnknown},
      {"start throws a toolkit error",
       []() -> bool { throw XMP_Error(kXMPErr_InternalFailure, "Failure from XMPUtils::Initialize"); }, 100000,
       kUnknown},
      {"start runs out of memory", []() -> bool { throw std::bad_alloc(); }, 100005, kMemory},
      {"start throws something else", []() -> bool { throw 42; }, 100000, kUnknown},
  };
  for (const Case& c : cases) {
    {
      StartStep step(c.step);
      StderrCapture err;
      EXPECT_EQ(code_of([] { xmp_toolkit_initialize(); }), c.code) << c.label;
      EXPECT_EQ(err.Take(), c.printed) << c.label;
      EXPECT_FALSE(xmp_toolkit_started()) << c.label;
    }
    std::string value;
    one_file(xmp_packet("<dc:format>image/tiff</dc:format>"), dng_test::kNsDC, "dc:format", &value);
    EXPECT_EQ(value, "image/tiff") << c.label;
  }
}

// Exhausted memory at each allocation of the real start in turn: the start
// fails with 100005 (one line), builds nothing that outlives the failure,
// and the next start works.
TEST(XmpToolkit, StartOutOfMemoryAtEachAllocation) {
  bool started = false;
  for (uint64_t n = 1; n < 100000 && !started; ++n) {
    StderrCapture err;
    int32_t code = 0;
    bool failed = false;
    {
      AllocationFailure failure = AllocationFailure::Nth(n);
      code = code_of([] { xmp_toolkit_initialize(); });
      failed = failure.Failed();
    }
    std::string printed = err.Take();
    if (!failed) {
      ASSERT_EQ(code, 0) << n;
      started = true;
    } else {
      ASSERT_EQ(code, 100005) << n;
      ASSERT_EQ(printed, kMemory) << n;
      ASSERT_FALSE(xmp_toolkit_started()) << n;
    }
  }
  ASSERT_TRUE(started);
  xmp_toolkit_terminate();
  std::string value;
  one_file(xmp_packet("<dc:format>x</dc:format>"), dng_test::kNsDC, "dc:format", &value);
  EXPECT_EQ(value, "x");
}

TEST(XmpToolkit, NamespaceListIsRegisteredAtStart) {
  const xmp_namespace_pair namespaces[] = {
      {"http://example.com/first/", "first"}, {"http://example.com/second/", "second"}, {nullptr, nullptr}};
  xmp_toolkit_initialize(namespaces);
  EXPECT_EQ(registered_prefix("http://example.com/first/"), "first:");
  EXPECT_EQ(registered_prefix("http://example.com/second/"), "second:");
  xmp_toolkit_terminate();
}

// A list entry the toolkit refuses fails the start; the toolkit is stopped
// again, so the next start builds fresh registries without the entries
// registered before the failure.
TEST(XmpToolkit, RefusedNamespaceStopsTheToolkitAgain) {
  const xmp_namespace_pair namespaces[] = {
      {"http://example.com/first/", "first"}, {"http://example.com/bad/", ""}, {nullptr, nullptr}};
  StderrCapture err;
  EXPECT_EQ(code_of([&] { xmp_toolkit_initialize(namespaces); }), 100000);
  EXPECT_EQ(err.Take(), kUnknown);
  EXPECT_FALSE(xmp_toolkit_started());
  xmp_toolkit_initialize();
  EXPECT_EQ(registered_prefix("http://example.com/first/"), "probe:");
  xmp_toolkit_terminate();
}

TEST(XmpToolkit, NamespacesOfOneFileAreGoneForTheNext) {
  const char kNs[] = "http://example.com/first-file/";
  const std::string packet =
      "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
      "<rdf:Description rdf:about='' xmlns:ff='http://example.com/first-file/'><ff:Prop>v</ff:Prop>"
      "</rdf:Description></rdf:RDF></x:xmpmeta>";
  xmp_toolkit_initialize();
  {
    dng_host host;
    dng_xmp_store store;
    store.ParsePacket(host, packet.data(), static_cast<uint32_t>(packet.size()));
    EXPECT_EQ(registered_prefix(kNs), "ff:");
  }
  xmp_toolkit_terminate();

  xmp_toolkit_initialize();
  EXPECT_EQ(registered_prefix(kNs), "probe:");
  xmp_toolkit_terminate();
}

// A worker validates file after file: 1,000 starts, parses and stops, each
// packet with a namespace of its own, leave the heap where it was.
TEST(XmpToolkit, ThousandFilesDoNotGrowTheHeap) {
  auto packet_for = [](int i) {
    std::string uri = "http://example.com/file" + std::to_string(i) + "/";
    return "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
           "<rdf:Description rdf:about='' xmlns:f='" +
           uri + "' xmlns:dc='http://purl.org/dc/elements/1.1/'><f:Prop>value</f:Prop>" +
           "<dc:subject><rdf:Bag><rdf:li>a</rdf:li><rdf:li>b</rdf:li></rdf:Bag></dc:subject>" +
           "</rdf:Description></rdf:RDF></x:xmpmeta>";
  };
  const std::string packets[] = {packet_for(1), packet_for(2)};
  // Warm up, so that lazily made process-wide objects exist before measuring.
  for (int i = 0; i < 20; ++i) one_file(packets[i % 2], dng_test::kNsDC, "dc:subject[1]");
  const size_t before = dng_test::heap_in_use();
  for (int i = 0; i < 1000; ++i) {
    const std::string packet = packet_for(1000 + i);
    one_file(packet, dng_test::kNsDC, "dc:subject[2]");
  }
  const size_t after = dng_test::heap_in_use();
  RecordProperty("heap_before", std::to_string(before));
  RecordProperty("heap_after", std::to_string(after));
  // One leaked registry entry per file would already break this bound.
  EXPECT_LT(after, before + 16 * 1024) << "before " << before << " after " << after;
  EXPECT_FALSE(xmp_toolkit_started());
}

}  // namespace
