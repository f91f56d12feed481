// The locked call layer and toolkit start-up: argument checks, the lock
// state each call leaves, nested starts, allocation hooks and leaks.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "support/xmp_toolkit_fixture.h"
#include "xmp/core_lock.h"
#include "xmp/xmp_call.h"
#include "xmp/xmp_meta.h"
#include "xmp/xmp_meta_serialize.h"

namespace {

constexpr const char kEx[] = "http://example.com/ex/";
constexpr const char kDc[] = "http://purl.org/dc/elements/1.1/";

// True when another thread holds CoreLock: this thread cannot take it.
bool LockHeldByCaller() {
  bool taken = false;
  std::thread probe([&taken] {
    taken = CoreLock().try_lock();
    if (taken) CoreLock().unlock();
  });
  probe.join();
  return !taken;
}

class XmpCallTest : public XmpToolkitTest {
 protected:
  void SetUp() override {
    XmpToolkitTest::SetUp();
    XMPCallResult result;
    XMPCall_NewMeta(&result);
    ASSERT_EQ(result.message, nullptr);
    meta_ = static_cast<XMPMeta*>(result.pointerResult);
    XMPCall_DefineNamespace(kEx, "ex", nullptr, nullptr, &result);
    XMPCall_ReleaseLock(0);
    const std::function<void(XMPCallResult*)> fills[] = {
        [this](XMPCallResult* r) { XMPCall_SetProperty(meta_, kEx, "ex:a", "value", 0, r); },
        [this](XMPCallResult* r) { XMPCall_AppendArrayItem(meta_, kDc, "creator", kXMP_PropArrayIsOrdered, "Ann", 0, r); },
        [this](XMPCallResult* r) { XMPCall_SetStructField(meta_, kEx, "ex:s", kEx, "ex:f", "field", 0, r); },
        [this](XMPCallResult* r) { XMPCall_SetLocalizedText(meta_, kDc, "title", "", "x-default", "Title", 0, r); },
    };
    for (const auto& fill : fills) {
      fill(&result);
      ASSERT_EQ(result.message, nullptr) << result.message;
    }
    ASSERT_FALSE(LockHeldByCaller());
  }
  void TearDown() override {
    XMPCall_Release(meta_);
    XmpToolkitTest::TearDown();
  }
  XMPMeta* meta_ = nullptr;
};

struct LockCase {
  const char* label;
  std::function<void(XMPMeta*, XMPCallResult*)> call;
  XMP_Int32 intResult;  // expected on success; the id on failure
  const char* message;  // null for success
  bool held;
};

TEST_F(XmpCallTest, LockStateAfterEachCallKind) {
  XMP_StringPtr text = nullptr;
  XMP_StringLen length = 0;
  const LockCase cases[] = {
      {"define namespace", [](XMPMeta*, XMPCallResult* r) { XMPCall_DefineNamespace(kEx, "ex", nullptr, nullptr, r); },
       1, nullptr, true},
      {"get property found",
       [&](XMPMeta* m, XMPCallResult* r) { XMPCall_GetProperty(m, kEx, "ex:a", &text, &length, nullptr, r); }, 1,
       nullptr, true},
      {"get property missing",
       [](XMPMeta* m, XMPCallResult* r) { XMPCall_GetProperty(m, kEx, "ex:none", nullptr, nullptr, nullptr, r); }, 0,
       nullptr, false},
      {"get property failing",
       [](XMPMeta* m, XMPCallResult* r) { XMPCall_GetProperty(m, kEx, "ex:a[", nullptr, nullptr, nullptr, r); },
       102, "Missing ']' or '=' for array index", false},
      {"get array item found",
       [](XMPMeta* m, XMPCallResult* r) { XMPCall_GetArrayItem(m, kDc, "creator", 1, nullptr, nullptr, nullptr, r); },
       1, nullptr, true},
      {"get array item missing",
       [](XMPMeta* m, XMPCallResult* r) { XMPCall_GetArrayItem(m, kDc, "creator", 2, nullptr, nullptr, nullptr, r); },
       0, nullptr, false},
      {"get struct field found",
       [](XMPMeta* m, XMPCallResult* r) {
         XMPCall_GetStructField(m, kEx, "ex:s", kEx, "ex:f", nullptr, nullptr, nullptr, r);
       },
       1, nullptr, true},
      {"get localized text found",
       [](XMPMeta* m, XMPCallResult* r) {
         XMPCall_GetLocalizedText(m, kDc, "title", nullptr, "x-default", nullptr, nullptr, nullptr, nullptr, nullptr, r);
       },
       1, nullptr, true},
      {"get localized text without specific language",
       [](XMPMeta* m, XMPCallResult* r) {
         XMPCall_GetLocalizedText(m, kDc, "title", nullptr, "", nullptr, nullptr, nullptr, nullptr, nullptr, r);
       },
       4, "Empty specific language", false},
      {"has property", [](XMPMeta* m, XMPCallResult* r) { XMPCall_HasProperty(m, kEx, "ex:a", r); }, 1, nullptr,
       false},
      {"set property", [](XMPMeta* m, XMPCallResult* r) { XMPCall_SetProperty(m, kEx, "ex:b", nullptr, 0, r); }, 0,
       nullptr, false},
      {"set property failing",
       [](XMPMeta* m, XMPCallResult* r) { XMPCall_SetProperty(m, kEx, "ex:b", "v", 0x4000000, r); }, 103,
       "Unrecognized option flags", false},
      {"delete property", [](XMPMeta* m, XMPCallResult* r) { XMPCall_DeleteProperty(m, kEx, "ex:none", r); }, 0,
       nullptr, false},
      {"parse", [](XMPMeta*, XMPCallResult* r) {
         XMPCallResult made;
         XMPCall_NewMeta(&made);
         auto* fresh = static_cast<XMPMeta*>(made.pointerResult);
         XMPCall_ParseFromBuffer(fresh, "<a/>", 4, 0, r);
         XMPCall_Release(fresh);
       },
       0, nullptr, false},
      {"parse failing", [](XMPMeta* m, XMPCallResult* r) { XMPCall_ParseFromBuffer(m, "<a/>", 4, 0, r); }, 106,
       "Can only parse into an empty object", false},
      {"serialize",
       [&](XMPMeta* m, XMPCallResult* r) {
         XMPCall_SerializeToBuffer(m, &text, &length, 0, 0, nullptr, nullptr, 0, r);
       },
       0, nullptr, true},
      {"serialize failing",
       [](XMPMeta* m, XMPCallResult* r) {
         XMPCall_SerializeToBuffer(m, nullptr, nullptr, kXMP_LittleEndianBit, 0, nullptr, nullptr, 0, r);
       },
       103, "Can't use _XMP_LittleEndian_Bit by itself", false},
  };
  for (const LockCase& c : cases) {
    SCOPED_TRACE(c.label);
    XMPCallResult result;
    result.intResult = 0;
    result.message = "stale";
    c.call(meta_, &result);
    if (c.message == nullptr) {
      EXPECT_EQ(result.message, nullptr) << result.message;
    } else {
      ASSERT_NE(result.message, nullptr);
      EXPECT_STREQ(result.message, c.message);
      EXPECT_STREQ(static_cast<const char*>(result.pointerResult), "XMP");
    }
    EXPECT_EQ(result.intResult, c.intResult);
    EXPECT_EQ(LockHeldByCaller(), c.held);
    if (c.held) {
      if (std::string(c.label) == "define namespace") {
        XMPCall_ReleaseLock(0);
      } else {
        XMPCall_ReleaseLockForObject(meta_, 0);
      }
      EXPECT_FALSE(LockHeldByCaller());
    }
  }
}

TEST_F(XmpCallTest, ArgumentChecksInOrder) {
  struct Case {
    const char* label;
    std::function<void(XMPMeta*, XMPCallResult*)> call;
    XMP_Int32 id;
    const char* message;
  };
  const Case cases[] = {
      {"schema before path", [](XMPMeta* m, XMPCallResult* r) { XMPCall_GetProperty(m, "", nullptr, 0, 0, 0, r); },
       101, "Empty schema namespace URI"},
      {"null schema", [](XMPMeta* m, XMPCallResult* r) { XMPCall_HasProperty(m, nullptr, "ex:a", r); }, 101,
       "Empty schema namespace URI"},
      {"property name", [](XMPMeta* m, XMPCallResult* r) { XMPCall_SetProperty(m, kEx, "", "v", 0, r); }, 102,
       "Empty property name"},
      {"array name", [](XMPMeta* m, XMPCallResult* r) { XMPCall_AppendArrayItem(m, kEx, nullptr, 0, "v", 0, r); },
       102, "Empty array name"},
      {"struct name",
       [](XMPMeta* m, XMPCallResult* r) { XMPCall_SetStructField(m, kEx, "", "", "", "v", 0, r); }, 102,
       "Empty struct name"},
      {"field namespace",
       [](XMPMeta* m, XMPCallResult* r) { XMPCall_GetStructField(m, kEx, "ex:s", "", "", 0, 0, 0, r); }, 101,
       "Empty field namespace URI"},
      {"field name",
       [](XMPMeta* m, XMPCallResult* r) { XMPCall_GetStructField(m, kEx, "ex:s", kEx, nullptr, 0, 0, 0, r); }, 102,
       "Empty field name"},
      {"specific language",
       [](XMPMeta* m, XMPCallResult* r) { XMPCall_SetLocalizedText(m, kDc, "title", "en", nullptr, "v", 0, r); }, 4,
       "Empty specific language"},
      {"namespace URI",
       [](XMPMeta*, XMPCallResult* r) { XMPCall_DefineNamespace("", "", nullptr, nullptr, r); }, 101,
       "Empty namespace URI"},
      {"suggested prefix",
       [](XMPMeta*, XMPCallResult* r) { XMPCall_DefineNamespace(kEx, nullptr, nullptr, nullptr, r); }, 101,
       "Empty suggested prefix"},
  };
  for (const Case& c : cases) {
    XMPCallResult result;
    c.call(meta_, &result);
    ASSERT_NE(result.message, nullptr) << c.label;
    EXPECT_EQ(result.intResult, c.id) << c.label;
    EXPECT_STREQ(result.message, c.message) << c.label;
    EXPECT_FALSE(LockHeldByCaller()) << c.label;
  }
}

TEST_F(XmpCallTest, NullGenericLanguageIsEmpty) {
  XMP_StringPtr value = nullptr;
  XMP_StringLen length = 0;
  XMPCallResult result;
  XMPCall_GetLocalizedText(meta_, kDc, "title", nullptr, "de", nullptr, nullptr, &value, &length, nullptr, &result);
  ASSERT_EQ(result.message, nullptr);
  ASSERT_EQ(result.intResult, 1);
  std::string viaNull(value, length);
  XMPCall_ReleaseLockForObject(meta_, 0);
  XMPCall_GetLocalizedText(meta_, kDc, "title", "", "de", nullptr, nullptr, &value, &length, nullptr, &result);
  ASSERT_EQ(result.intResult, 1);
  EXPECT_EQ(std::string(value, length), viaNull);
  XMPCall_ReleaseLockForObject(meta_, 0);
}

// A failed allocation inside a guarded call reports the standard
// exception's own text, which outlives the exception.
TEST_F(XmpCallTest, OutOfMemoryIsReportedWithItsText) {
  XMPCallResult result;
  {
    ScopedAllocationHooks restore;
    AllocateHook = [](size_t) -> void* { return nullptr; };
    XMPCall_SetProperty(meta_, kEx, "ex:new", "a value long enough to need the heap for its text", 0, &result);
  }
  ASSERT_NE(result.message, nullptr);
  EXPECT_EQ(result.intResult, 13);
  EXPECT_STREQ(result.message, "bad allocation");
  EXPECT_FALSE(LockHeldByCaller());
}

TEST_F(XmpCallTest, ReleasingTheLastReferenceDeletesAPendingParse) {
  XMPCallResult result;
  XMPCall_NewMeta(&result);
  auto* meta = static_cast<XMPMeta*>(result.pointerResult);
  XMPCall_AddRef(meta);
  std::string half = XmpDescription("<ex:a>1</ex:a>").substr(0, 40);
  XMPCall_ParseFromBuffer(meta, half.data(), static_cast<XMP_StringLen>(half.size()), 0x2, &result);
  ASSERT_EQ(result.message, nullptr);
  XMPCall_Release(meta);
  EXPECT_EQ(meta->clientRefs, 1);
  XMPCall_Release(meta);  // the sanitizer reports anything left behind
}

// Live blocks of the counting hooks below.
std::atomic<long> gLiveBlocks{0};
std::atomic<long> gAllocationsLeft{-1};  // -1: never fail

void* CountingAllocate(size_t size) {
  if (gAllocationsLeft >= 0 && gAllocationsLeft-- == 0) return nullptr;
  void* block = std::malloc(size);
  if (block != nullptr) ++gLiveBlocks;
  return block;
}

void CountingFree(void* block) {
  --gLiveBlocks;
  std::free(block);
}

bool ToolkitStarted() { return sSerializedPacket != nullptr; }

// Running out of memory at any point of a packet parse, inside Expat or in
// the toolkit, is reported as exhaustion and never as a damaged packet; the
// same object then parses the packet. A damaged packet is no exhaustion.
TEST_F(XmpCallTest, APacketParseOutOfMemoryAnywhereIsReportedAsExhaustion) {
  const std::string packet =
      "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?>"
      "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
      "<rdf:Description rdf:about='' xmlns:dc='http://purl.org/dc/elements/1.1/'"
      " xmlns:ex='http://example.com/ex/' ex:rating='5'>"
      "<dc:creator><rdf:Seq><rdf:li>Ann</rdf:li><rdf:li>Bo</rdf:li></rdf:Seq></dc:creator>"
      "<dc:title><rdf:Alt><rdf:li xml:lang='x-default'>A title</rdf:li></rdf:Alt></dc:title>"
      "<ex:place rdf:parseType='Resource'><ex:city>Oslo</ex:city></ex:place>"
      "</rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end='w'?>";
  ScopedAllocationHooks restore;
  const XMP_AllocateProc plain = AllocateHook;
  long exhausted = 0;
  for (long failAt = 0;; ++failAt) {
    XMPCallResult result;
    XMPCall_NewMeta(&result);
    ASSERT_EQ(result.message, nullptr);
    auto* meta = static_cast<XMPMeta*>(result.pointerResult);
    AllocateHook = &CountingAllocate;
    gAllocationsLeft = failAt;
    XMPCall_ParseFromBuffer(meta, packet.data(), static_cast<XMP_StringLen>(packet.size()), 0, &result);
    gAllocationsLeft = -1;
    AllocateHook = plain;
    const bool failed = result.message != nullptr;
    if (failed) {
      EXPECT_TRUE(XMPCall_RanOutOfMemory(result)) << failAt << ": " << result.intResult << " " << result.message;
      ++exhausted;
      XMPCall_ParseFromBuffer(meta, packet.data(), static_cast<XMP_StringLen>(packet.size()), 0, &result);
      EXPECT_EQ(result.message, nullptr) << failAt << ": " << result.message;
    }
    EXPECT_FALSE(LockHeldByCaller()) << failAt;
    XMPCall_Release(meta);
    if (!failed) break;
    ASSERT_LT(failAt, 100000);
  }
  EXPECT_GT(exhausted, 50);

  XMPCallResult result;
  const std::string damaged = packet.substr(0, packet.size() / 2);
  XMPCall_ParseFromBuffer(meta_, damaged.data(), static_cast<XMP_StringLen>(damaged.size()), 0, &result);
  ASSERT_NE(result.message, nullptr);
  EXPECT_FALSE(XMPCall_RanOutOfMemory(result)) << result.intResult << " " << result.message;
}

TEST(XmpStartupTest, NestedStartsBuildOnceAndTheLastStopTearsDown) {
  ScopedAllocationHooks restore;
  XMPCallResult result;
  XMPCall_Initialize(nullptr, nullptr, &result);
  ASSERT_EQ(result.intResult, 1);
  XMPCall_DefineNamespace("http://example.com/kept/", "kept", nullptr, nullptr, &result);
  XMPCall_ReleaseLock(0);
  XMPCall_Initialize(&CountingAllocate, &CountingFree, &result);
  EXPECT_EQ(result.message, nullptr);
  EXPECT_EQ(result.intResult, 1);
  EXPECT_NE(AllocateHook, &CountingAllocate);  // a nested start installs nothing
  XMP_StringPtr prefix = nullptr;
  XMP_StringLen length = 0;
  XMPCall_DefineNamespace("http://example.com/kept/", "other", &prefix, &length, &result);
  EXPECT_EQ(std::string(prefix, length), "kept:");
  XMPCall_ReleaseLock(0);
  XMPCall_Shutdown();
  EXPECT_TRUE(ToolkitStarted());
  XMPCall_Shutdown();
  EXPECT_FALSE(ToolkitStarted());
  XMPCall_Shutdown();  // unmatched: nothing happens
  XMPCall_Shutdown();
  XMPCall_Initialize(nullptr, nullptr, &result);
  EXPECT_TRUE(ToolkitStarted());
  XMPCall_Shutdown();
  EXPECT_FALSE(ToolkitStarted());
}

TEST(XmpStartupTest, OneNullProcedureIsRefusedAndChangesNothing) {
  ScopedAllocationHooks restore;
  XMPCallResult result;
  XMPCall_Initialize(&CountingAllocate, nullptr, &result);
  ASSERT_NE(result.message, nullptr);
  EXPECT_EQ(result.intResult, 4);
  EXPECT_STREQ(result.message, "The allocate/delete functions must be provided together or not at all");
  EXPECT_FALSE(ToolkitStarted());
  XMPCall_Initialize(nullptr, &CountingFree, &result);
  EXPECT_EQ(result.intResult, 4);
  XMPCall_Initialize(nullptr, nullptr, &result);
  EXPECT_TRUE(ToolkitStarted());
  XMPCall_Shutdown();
  EXPECT_FALSE(ToolkitStarted());
}

TEST(XmpStartupTest, TheLastStopPutsMallocAndFreeBack) {
  ScopedAllocationHooks restore;
  XMPCallResult result;
  XMPCall_Initialize(&CountingAllocate, &CountingFree, &result);
  ASSERT_EQ(result.message, nullptr);
  EXPECT_EQ(AllocateHook, &CountingAllocate);
  XMPCall_Shutdown();
  EXPECT_EQ(AllocateHook, static_cast<XMP_AllocateProc>(std::malloc));
  EXPECT_EQ(FreeHook, static_cast<XMP_DeleteProc>(std::free));
}

// Workers outlive runs: a thousand DNG files must not leave anything behind.
TEST(XmpStartupTest, StartParseStopCyclesLeaveNoLiveAllocation) {
  ScopedAllocationHooks restore;
  const std::string packet = ReadXmpFixture("tiff_deflate.xmp");
  gLiveBlocks = 0;
  gAllocationsLeft = -1;
  for (int cycle = 0; cycle < 1000; ++cycle) {
    XMPCallResult result;
    XMPCall_Initialize(&CountingAllocate, &CountingFree, &result);
    ASSERT_EQ(result.message, nullptr);
    XMPCall_NewMeta(&result);
    auto* meta = static_cast<XMPMeta*>(result.pointerResult);
    XMPCall_ParseFromBuffer(meta, packet.data(), static_cast<XMP_StringLen>(packet.size()), 0, &result);
    ASSERT_EQ(result.message, nullptr) << result.message;
    XMPCall_Release(meta);
    XMPCall_Shutdown();
    ASSERT_EQ(gLiveBlocks, 0) << "cycle " << cycle;
  }
}

// A start-up that fails part way undoes what it built and leaves the
// toolkit stopped, so the next start builds everything again.
TEST(XmpStartupTest, AFailedStartLeavesTheToolkitStopped) {
  ScopedAllocationHooks restore;
  bool succeeded = false;
  for (long failAt = 0; !succeeded; ++failAt) {
    gLiveBlocks = 0;
    gAllocationsLeft = failAt;
    XMPCallResult result;
    XMPCall_Initialize(&CountingAllocate, &CountingFree, &result);
    gAllocationsLeft = -1;
    if (result.message == nullptr) {
      succeeded = true;
      XMPCall_Shutdown();
    } else {
      EXPECT_EQ(result.intResult, 13) << failAt;
      EXPECT_STREQ(result.message, "bad allocation");
      EXPECT_FALSE(ToolkitStarted()) << failAt;
      EXPECT_EQ(AllocateHook, static_cast<XMP_AllocateProc>(std::malloc)) << failAt;
    }
    EXPECT_EQ(gLiveBlocks, 0) << failAt;
    ASSERT_LT(failAt, 100000);
  }
  XMPCallResult result;
  XMPCall_Initialize(nullptr, nullptr, &result);
  ASSERT_EQ(result.message, nullptr);
  XMPCall_DefineNamespace("http://purl.org/dc/elements/1.1/", "dc", nullptr, nullptr, &result);
  EXPECT_EQ(result.intResult, 1);  // the standard namespaces are there again
  XMPCall_ReleaseLock(0);
  XMPCall_Shutdown();
}

}  // namespace
