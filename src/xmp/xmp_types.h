// Basic value types and option bits of the XMP toolkit.
#pragma once

#include <cstddef>
#include <cstdint>

using XMP_Int32 = int32_t;
using XMP_Uns32 = uint32_t;
using XMP_Index = int32_t;
using XMP_OptionBits = uint32_t;
using XMP_StringPtr = const char*;
using XMP_StringLen = uint32_t;

// Option bits of a metadata node; the same word carries the options that
// clients pass to set operations.
enum : XMP_OptionBits {
  kXMP_NoOptions = 0,
  kXMP_PropValueIsURI = 0x2,
  kXMP_PropHasQualifiers = 0x10,
  kXMP_PropIsQualifier = 0x20,
  kXMP_PropHasLang = 0x40,
  kXMP_PropHasType = 0x80,
  kXMP_PropValueIsStruct = 0x100,
  kXMP_PropValueIsArray = 0x200,
  kXMP_PropArrayIsOrdered = 0x400,
  kXMP_PropArrayIsAlternate = 0x800,
  kXMP_PropArrayIsAltText = 0x1000,
  kXMP_InsertBeforeItem = 0x4000,
  kXMP_InsertAfterItem = 0x8000,
  kXMP_NewImplicitNode = 0x8000,
  kXMP_PropIsAlias = 0x10000,
  kXMP_PropHasAliases = 0x20000,
  kRDF_HasValueElem = 0x10000000,
  kXMP_DeleteExisting = 0x20000000,
  kXMP_SchemaNode = 0x80000000u,

  // Struct plus the four array bits.
  kXMP_PropCompositeMask = 0x1F00,
  // The four array bits.
  kXMP_PropArrayFormMask = 0x1E00,
};
