// XMPUtils: the toolkit's work texts and the helpers that compose paths.
#pragma once

#include <string>

#include "xmp/xmp_types.h"

class XMPUtils {
 public:
  // Makes (and deletes) sComposedPath and sDateText; Initialize reports
  // success.
  static bool Initialize();
  static void Shutdown();

  // The array path followed by "[index]", or "[last()]" for -1. The text
  // stays valid until the next composition.
  static void MakeArrayItemPath(XMP_StringPtr schemaNS, XMP_StringPtr arrayName, XMP_Index itemIndex,
                                XMP_StringPtr* fullPath, XMP_StringLen* pathSize);
  // The struct path, "/" and the field's qualified name.
  static void MakeStructFieldPath(XMP_StringPtr schemaNS, XMP_StringPtr structName, XMP_StringPtr fieldNS,
                                  XMP_StringPtr fieldName, XMP_StringPtr* fullPath, XMP_StringLen* pathSize);
};

// Receives composed paths (MakeArrayItemPath, MakeStructFieldPath).
extern std::string* sComposedPath;
// Receives written dates (WriteIsoDate).
extern std::string* sDateText;
