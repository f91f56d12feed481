// Toolkit start-up and shutdown: XMPMeta::Initialize builds the process-wide
// state (registries with the standard namespaces and aliases, converter
// table, work texts) once per started period; XMPMeta::Shutdown tears it
// down when the last start is matched.
#include <cstdlib>
#include <string>

#include "xmp/allocation_hooks.h"
#include "xmp/core_lock.h"
#include "xmp/unicode_converters.h"
#include "xmp/xmp_error.h"
#include "xmp/xmp_meta.h"
#include "xmp/xmp_meta_serialize.h"
#include "xmp/namespace_registry.h"
#include "xmp/xmp_node.h"
#include "xmp/xmp_utils.h"

namespace {

// Starts not yet matched by a stop.
XMP_Int32 sInitCount = 0;

// The schema node that iterators start from.
XMP_Node* sDummySchema = nullptr;

}  // namespace

std::string* sDefaultLanguage = nullptr;

namespace {

void TearDown() {
  delete sDummySchema;
  sDummySchema = nullptr;
  XMPUtils::Shutdown();
  DeleteRegistries();
  delete sDefaultLanguage;
  sDefaultLanguage = nullptr;
  delete sSerializedPacket;
  sSerializedPacket = nullptr;
  AllocateHook = std::malloc;
  FreeHook = std::free;
}

}  // namespace

bool XMPMeta::Initialize(XMP_AllocateProc allocate, XMP_DeleteProc free) {
  ++sInitCount;
  if (sInitCount > 1) return true;
  try {
    if (allocate != nullptr) {
      AllocateHook = allocate;
      FreeHook = free;
    }
    sSerializedPacket = new std::string;
    sDefaultLanguage = new std::string("x-default");
    CreateRegistries();
    SetUpConverters();
    RegisterStandardNamespaces();
    XMPMeta::DefineStandardAliases("");
    sDummySchema = new XMP_Node(nullptr, "dummy:schema/", kXMP_SchemaNode);
    if (!XMPUtils::Initialize()) XMP_Throw(kXMPErr_InternalFailure, "Failure from XMPUtils::Initialize");
  } catch (...) {
    // A failed start leaves nothing behind and the toolkit stopped, so the
    // next start builds everything again.
    TearDown();
    --sInitCount;
    throw;
  }
  return true;
}

void XMPMeta::Shutdown() {
  if (sInitCount <= 0) return;  // unmatched: nothing to tear down
  if (--sInitCount > 0) return;
  TearDown();
}

void XMPMeta::ReleaseLock() { CoreLock().unlock(); }

void XMPMeta::ReleaseLockForObject() const { CoreLock().unlock(); }
