// The allocation procedures behind the program's global operator new and
// operator delete. They are read without a lock and change only at toolkit
// start-up and shutdown.
#pragma once

#include <cstddef>
#include <new>

using XMP_AllocateProc = void* (*)(size_t size);
using XMP_DeleteProc = void (*)(void* pointer);

// malloc and free from before the first allocation of the process.
extern XMP_AllocateProc AllocateHook;
extern XMP_DeleteProc FreeHook;

// What operator new throws when AllocateHook returns null.
class XMP_BadAlloc : public std::bad_alloc {
 public:
  const char* what() const noexcept override { return "bad allocation"; }
};
