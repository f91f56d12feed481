// Helpers of the XMP client glue tests: a per-test toolkit start, a probe
// of the toolkit lock from another thread, allocation failures injected
// through the program's allocation hook, packets, and the heap in use.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "dng/parse/xmp_toolkit.h"
#include "xmp/allocation_hooks.h"
#include "xmp/core_lock.h"

#if defined(__SANITIZE_ADDRESS__)
// Part of the address sanitizer's runtime interface.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace dng_test {

inline constexpr const char kNsDC[] = "http://purl.org/dc/elements/1.1/";
inline constexpr const char kNsExif[] = "http://ns.adobe.com/exif/1.0/";
inline constexpr const char kNsPhotoshop[] = "http://ns.adobe.com/photoshop/1.0/";
inline constexpr const char kNsExample[] = "http://example.com/glue/";

// Starts the toolkit with the example namespace (prefix "ex") registered.
// The toolkit is process-wide: these tests never run on several threads.
class XmpGlueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const xmp_namespace_pair namespaces[] = {{kNsExample, "ex"}, {nullptr, nullptr}};
    xmp_toolkit_initialize(namespaces);
  }
  void TearDown() override { xmp_toolkit_terminate(); }
};

// True when another thread can take the toolkit lock, i.e. no call left it
// entered on this thread.
inline bool toolkit_lock_free() {
  bool taken = false;
  std::thread probe([&taken] {
    taken = CoreLock().try_lock();
    if (taken) CoreLock().unlock();
  });
  probe.join();
  return taken;
}

// While alive, operator new fails as exhausted memory does: either the
// allocation with the given 1-based number (counted from construction), or
// every allocation of at least min_size bytes.
class AllocationFailure {
 public:
  static AllocationFailure Nth(uint64_t n) { return AllocationFailure(n, 0); }
  static AllocationFailure AtLeast(size_t min_size) { return AllocationFailure(0, min_size); }

  AllocationFailure(const AllocationFailure&) = delete;
  AllocationFailure& operator=(const AllocationFailure&) = delete;
  ~AllocationFailure() { AllocateHook = previous_; }

  // Allocations seen so far.
  uint64_t Count() const { return count_; }
  // Whether the injected failure happened.
  bool Failed() const { return failed_; }

 private:
  AllocationFailure(uint64_t n, size_t min_size) : previous_(AllocateHook) {
    count_ = 0;
    failed_ = false;
    fail_at_ = n;
    min_size_ = min_size;
    AllocateHook = &Allocate;
  }
  static void* Allocate(size_t size) {
    ++count_;
    if ((fail_at_ != 0 && count_ == fail_at_) || (min_size_ != 0 && size >= min_size_)) {
      failed_ = true;
      return nullptr;
    }
    return std::malloc(size);
  }

  XMP_AllocateProc previous_;
  static inline uint64_t count_ = 0;
  static inline bool failed_ = false;
  static inline uint64_t fail_at_ = 0;
  static inline size_t min_size_ = 0;
};

// An x:xmpmeta packet around one rdf:Description holding `properties`, with
// the namespaces the tests use declared.
inline std::string xmp_packet(const std::string& properties) {
  return "<x:xmpmeta xmlns:x='adobe:ns:meta/'>"
         "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
         "<rdf:Description rdf:about=''"
         " xmlns:dc='http://purl.org/dc/elements/1.1/'"
         " xmlns:exif='http://ns.adobe.com/exif/1.0/'"
         " xmlns:photoshop='http://ns.adobe.com/photoshop/1.0/'"
         " xmlns:ex='http://example.com/glue/'>" +
         properties + "</rdf:Description></rdf:RDF></x:xmpmeta>";
}

// Bytes of the heap in use now.
inline size_t heap_in_use() {
#if defined(__SANITIZE_ADDRESS__)
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

}  // namespace dng_test
