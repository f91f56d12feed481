// The program's global operator new and operator delete in every form,
// all through AllocateHook and FreeHook.
//
// This file is built as an object library that every executable links
// directly: inside a static archive a replacement allocation function is
// only used when something else pulls its member in, which is not reliable.
#include "xmp/allocation_hooks.h"

#include <cstdint>
#include <cstdlib>

constinit XMP_AllocateProc AllocateHook = std::malloc;
constinit XMP_DeleteProc FreeHook = std::free;

namespace {

// A hook may return null for zero bytes; every new expression needs a
// distinct pointer, so zero is asked as one.
void* AllocateOrNull(size_t size) noexcept { return AllocateHook(size == 0 ? 1 : size); }

void* AllocateOrThrow(size_t size) {
  void* block = AllocateOrNull(size);
  if (block == nullptr) throw XMP_BadAlloc();
  return block;
}

void Release(void* block) noexcept {
  if (block != nullptr) FreeHook(block);
}

// Over-aligned blocks come from the same hook: the block is enlarged by the
// alignment plus one pointer, the result is aligned inside it, and the
// hook's own pointer is kept just before the result for the release.
void* AllocateAlignedOrNull(size_t size, std::align_val_t alignment) noexcept {
  const size_t align = static_cast<size_t>(alignment);
  const size_t extra = align + sizeof(void*);
  if (size > SIZE_MAX - extra) return nullptr;
  void* raw = AllocateHook(size + extra);
  if (raw == nullptr) return nullptr;
  uintptr_t start = reinterpret_cast<uintptr_t>(raw) + sizeof(void*);
  uintptr_t aligned = (start + align - 1) & ~(uintptr_t{align} - 1);
  reinterpret_cast<void**>(aligned)[-1] = raw;
  return reinterpret_cast<void*>(aligned);
}

void* AllocateAlignedOrThrow(size_t size, std::align_val_t alignment) {
  void* block = AllocateAlignedOrNull(size, alignment);
  if (block == nullptr) throw XMP_BadAlloc();
  return block;
}

void ReleaseAligned(void* block) noexcept {
  if (block != nullptr) FreeHook(static_cast<void**>(block)[-1]);
}

}  // namespace

void* operator new(size_t size) { return AllocateOrThrow(size); }
void* operator new[](size_t size) { return AllocateOrThrow(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size); }

void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, size_t) noexcept { Release(block); }
void operator delete[](void* block, size_t) noexcept { Release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Release(block); }

void* operator new(size_t size, std::align_val_t alignment) { return AllocateAlignedOrThrow(size, alignment); }
void* operator new[](size_t size, std::align_val_t alignment) { return AllocateAlignedOrThrow(size, alignment); }
void* operator new(size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AllocateAlignedOrNull(size, alignment);
}
void* operator new[](size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AllocateAlignedOrNull(size, alignment);
}

void operator delete(void* block, std::align_val_t) noexcept { ReleaseAligned(block); }
void operator delete[](void* block, std::align_val_t) noexcept { ReleaseAligned(block); }
void operator delete(void* block, size_t, std::align_val_t) noexcept { ReleaseAligned(block); }
void operator delete[](void* block, size_t, std::align_val_t) noexcept { ReleaseAligned(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept { ReleaseAligned(block); }
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept { ReleaseAligned(block); }
