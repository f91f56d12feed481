// The toolkit's work texts and path composition.
#include "xmp/xmp_utils.h"

#include <cstdio>
#include <cstring>

#include "xmp/xmp_error.h"
#include "xmp/xpath.h"

std::string* sComposedPath = nullptr;
std::string* sDateText = nullptr;

bool XMPUtils::Initialize() {
  Shutdown();
  sComposedPath = new std::string;
  sDateText = new std::string;
  return true;
}

void XMPUtils::Shutdown() {
  delete sComposedPath;
  sComposedPath = nullptr;
  delete sDateText;
  sDateText = nullptr;
}

void XMPUtils::MakeArrayItemPath(XMP_StringPtr schemaNS, XMP_StringPtr arrayName, XMP_Index itemIndex,
                                 XMP_StringPtr* fullPath, XMP_StringLen* pathSize) {
  XMP_ExpandedXPath expanded;  // validates the array path
  SplitPath(schemaNS == nullptr ? "" : schemaNS, arrayName == nullptr ? "" : arrayName, &expanded);
  if (itemIndex < 0 && itemIndex != -1) XMP_Throw(kXMPErr_BadParam, "Array index out of bounds");
  const size_t room = strlen(arrayName) + 34;
  char item[24];
  if (itemIndex == -1) {
    snprintf(item, sizeof item, "[last()]");
  } else {
    snprintf(item, sizeof item, "[%d]", itemIndex);
  }
  *sComposedPath = arrayName;
  *sComposedPath += item;
  *pathSize = static_cast<XMP_StringLen>(sComposedPath->size());
  XMP_Enforce(*pathSize < room, "*pathSize < sComposedPath->size()", "XMPUtils", 544);
  *fullPath = sComposedPath->c_str();
}

void XMPUtils::MakeStructFieldPath(XMP_StringPtr schemaNS, XMP_StringPtr structName, XMP_StringPtr fieldNS,
                                   XMP_StringPtr fieldName, XMP_StringPtr* fullPath, XMP_StringLen* pathSize) {
  XMP_ExpandedXPath expanded;  // validates the struct path
  SplitPath(schemaNS == nullptr ? "" : schemaNS, structName == nullptr ? "" : structName, &expanded);
  XMP_ExpandedXPath field;
  SplitPath(fieldNS == nullptr ? "" : fieldNS, fieldName == nullptr ? "" : fieldName, &field);
  if (field.size() != 2) XMP_Throw(kXMPErr_BadXPath, "The fieldName must be simple");
  *sComposedPath = structName;
  *sComposedPath += '/';
  *sComposedPath += field[kRootPropStep].step;
  *fullPath = sComposedPath->c_str();
  *pathSize = static_cast<XMP_StringLen>(sComposedPath->size());
}
