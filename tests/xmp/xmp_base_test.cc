#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

#include "xmp/allocation_hooks.h"
#include "xmp/core_lock.h"
#include "xmp/xmp_error.h"
#include "xmp/xmp_node.h"

namespace {

// Swaps the allocation hooks for one scope, so a failing check can never
// leave GoogleTest allocating through a test's hook.
class HookSwap {
 public:
  HookSwap(XMP_AllocateProc allocate, XMP_DeleteProc release)
      : savedAllocate_(AllocateHook), savedFree_(FreeHook) {
    AllocateHook = allocate;
    FreeHook = release;
  }
  ~HookSwap() {
    AllocateHook = savedAllocate_;
    FreeHook = savedFree_;
  }

 private:
  XMP_AllocateProc savedAllocate_;
  XMP_DeleteProc savedFree_;
};

// Sizes no other code of the test process asks for at the same moment.
constexpr size_t kRefusedSize = 987651;

std::atomic<int> gAllocations{0};
std::atomic<int> gFrees{0};
std::atomic<size_t> gLastSize{0};

void* CountingAllocate(size_t size) {
  ++gAllocations;
  gLastSize = size;
  return std::malloc(size);
}
void CountingFree(void* block) {
  ++gFrees;
  std::free(block);
}
void* RefusingAllocate(size_t size) { return size == kRefusedSize ? nullptr : std::malloc(size); }

// Calls through a volatile pointer so that the compiler cannot pair and
// drop a new and its delete.
void* (*volatile gNew)(size_t) = static_cast<void* (*)(size_t)>(&::operator new);
void* (*volatile gNewArray)(size_t) = static_cast<void* (*)(size_t)>(&::operator new[]);

TEST(AllocationHooks, NullHookResultThrowsBadAllocationInEveryThrowingForm) {
  HookSwap swap(RefusingAllocate, std::free);
  const auto expectBadAllocation = [](auto allocate) {
    try {
      allocate();
      ADD_FAILURE() << "no exception";
    } catch (const std::bad_alloc& error) {
      EXPECT_STREQ(error.what(), "bad allocation");
    }
  };
  expectBadAllocation([] { gNew(kRefusedSize); });
  expectBadAllocation([] { gNewArray(kRefusedSize); });
  expectBadAllocation([] {
    // The aligned form asks the hook for more than the request; refuse it
    // by size overflow instead.
    volatile size_t huge = SIZE_MAX - 8;
    ::operator delete(::operator new(huge, std::align_val_t{64}), std::align_val_t{64});
  });
  EXPECT_EQ(::operator new(kRefusedSize, std::nothrow), nullptr);
  EXPECT_EQ(::operator new[](kRefusedSize, std::nothrow), nullptr);
}

TEST(AllocationHooks, EveryFormGoesThroughTheHooks) {
  gAllocations = 0;
  gFrees = 0;
  {
    HookSwap swap(CountingAllocate, CountingFree);
    void* scalar = gNew(24);
    void* array = gNewArray(24);
    void* nothrow = ::operator new(24, std::nothrow);
    void* aligned = ::operator new(24, std::align_val_t{256});
    void* alignedArray = ::operator new[](24, std::align_val_t{128}, std::nothrow);
    void* empty = gNew(0);
    EXPECT_EQ(gLastSize.load(), 1u) << "a zero-byte request asks the hook for one byte";
    EXPECT_EQ(reinterpret_cast<uintptr_t>(aligned) % 256, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(alignedArray) % 128, 0u);
    std::memset(aligned, 0xAB, 24);
    ::operator delete(scalar, size_t{24});
    ::operator delete[](array);
    ::operator delete(nothrow, std::nothrow);
    ::operator delete(aligned, size_t{24}, std::align_val_t{256});
    ::operator delete[](alignedArray, std::align_val_t{128}, std::nothrow);
    ::operator delete(empty);
    EXPECT_EQ(gAllocations.load(), gFrees.load());
    EXPECT_GE(gAllocations.load(), 6);
    const int before = gFrees;
    ::operator delete(nullptr);
    ::operator delete[](nullptr);
    ::operator delete(nullptr, std::align_val_t{64});
    EXPECT_EQ(gFrees.load(), before) << "deleting null must not reach the hook";
  }
  EXPECT_EQ(AllocateHook, static_cast<XMP_AllocateProc>(std::malloc));
}

TEST(XmpError, EnforceCarriesItsSiteText) {
  try {
    XMP_Enforce(1 + 1 == 3, "*pathSize < sComposedPath->size()", "XMPUtils", 544);
    FAIL() << "no exception";
  } catch (const XMP_Error& error) {
    EXPECT_EQ(error.GetID(), kXMPErr_EnforceFailure);
    EXPECT_STREQ(error.GetErrMsg(),
                 "XMP_Enforce failed: (*pathSize < sComposedPath->size()) in "
                 "..\\..\\source\\XMPCore\\XMPUtils at line 544");
  }
  EXPECT_NO_THROW(XMP_Enforce(true, "x", "XMPUtils", 1));
}

// Whether another thread could take CoreLock right now.
bool LockFreeForOtherThreads() {
  return std::async(std::launch::async, [] {
           if (!CoreLock().try_lock()) return false;
           CoreLock().unlock();
           return true;
         })
      .get();
}

TEST(CoreLockGuard, HoldsReleasesAndDetaches) {
  ASSERT_TRUE(LockFreeForOtherThreads());
  {
    CoreLockGuard outer;
    {
      CoreLockGuard inner;  // recursive
      EXPECT_TRUE(inner.Holds());
    }
    EXPECT_FALSE(LockFreeForOtherThreads());
  }
  EXPECT_TRUE(LockFreeForOtherThreads());

  try {
    CoreLockGuard guard;
    throw std::runtime_error("passing");
  } catch (const std::runtime_error&) {
  }
  EXPECT_TRUE(LockFreeForOtherThreads()) << "an exception passing the guard leaves the lock";

  {
    CoreLockGuard guard;
    guard.Release();
    EXPECT_TRUE(LockFreeForOtherThreads());
  }  // a released guard leaves nothing a second time

  {
    CoreLockGuard guard;
    guard.Detach();
  }
  EXPECT_FALSE(LockFreeForOtherThreads()) << "a detached guard keeps the lock entered";
  CoreLock().unlock();
  EXPECT_TRUE(LockFreeForOtherThreads());
}

// Allocations left before the next one fails; negative: none fails.
std::atomic<int> gAllocationsBeforeFailure{-1};
void* FailingAfterCount(size_t size) {
  if (gAllocationsBeforeFailure.fetch_sub(1) == 0) return nullptr;
  return std::malloc(size);
}

// Deleting a tree takes a work list; when memory for it runs out part way,
// the rest of the tree is still deleted, whole (the sanitizer reports a
// leak or a bad access otherwise).
TEST(XmpNodeTree, ATreeIsDeletedWhenMemoryForTheWorkListRunsOut) {
  for (int failAt = 0; failAt < 16; ++failAt) {
    auto root = std::make_unique<XMP_Node>(nullptr, "root", 0);
    for (int i = 0; i < 5; ++i) {
      auto* child = new XMP_Node(root.get(), "ex:child", 0);
      root->children.emplace_back(child);
      for (int j = 0; j < 5; ++j) {
        child->children.emplace_back(new XMP_Node(child, "ex:grandchild", "value", 0));
        child->qualifiers.emplace_back(new XMP_Node(child, "ex:qualifier", "value", 0));
      }
    }
    HookSwap swap(FailingAfterCount, std::free);
    gAllocationsBeforeFailure = failAt;
    root.reset();
    gAllocationsBeforeFailure = -1;
  }
}

}  // namespace
