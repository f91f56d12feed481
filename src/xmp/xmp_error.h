// The toolkit's one exception type, its ids, and the internal consistency
// check XMP_Enforce.
#pragma once

#include "xmp/xmp_types.h"

enum XMPErrorId : XMP_Int32 {
  kXMPErr_BadParam = 4,
  kXMPErr_BadValue = 5,
  kXMPErr_EnforceFailure = 7,
  kXMPErr_InternalFailure = 9,
  kXMPErr_ExternalFailure = 11,
  kXMPErr_StdException = 13,
  kXMPErr_UnknownException = 14,
  kXMPErr_BadSchema = 101,
  kXMPErr_BadXPath = 102,
  kXMPErr_BadOptions = 103,
  kXMPErr_BadIndex = 104,
  kXMPErr_BadParse = 106,
  kXMPErr_BadSerialize = 107,
  kXMPErr_BadXML = 201,
  kXMPErr_BadRDF = 202,
  kXMPErr_BadXMP = 203,
};

// Thrown by value. The message is a text with static storage (a literal or
// a text owned by the toolkit for the whole run); it is never built at run
// time, so copying the error never allocates.
class XMP_Error {
 public:
  XMP_Error(XMP_Int32 id, XMP_StringPtr message) noexcept : id_(id), message_(message) {}
  XMP_Int32 GetID() const noexcept { return id_; }
  XMP_StringPtr GetErrMsg() const noexcept { return message_; }

 private:
  XMP_Int32 id_;
  XMP_StringPtr message_;
};

// Every failure of the toolkit leaves through here.
[[noreturn]] void XMP_Throw(XMP_Int32 id, XMP_StringPtr message);

// The fixed text of one XMP_Enforce site: the condition as the site writes
// it, the source file's name and the line, all literals.
#define XMP_EnforceText(conditionText, file, line) \
  "XMP_Enforce failed: (" conditionText ") in ..\\..\\source\\XMPCore\\" file " at line " #line

// Throws id 7 with the site's fixed text when the condition is false.
#define XMP_Enforce(condition, conditionText, file, line)                                  \
  do {                                                                                     \
    if (!(condition)) XMP_Throw(kXMPErr_EnforceFailure, XMP_EnforceText(conditionText, file, line)); \
  } while (false)
