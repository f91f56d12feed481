#include "xmp/xmp_call.h"

#include <cstring>
#include <exception>
#include <new>

#include "xmp/core_lock.h"
#include "xmp/xmp_error.h"
#include "xmp/xmp_meta.h"

namespace {

// The text of a std::bad_alloc thrown by the program's operator new.
constexpr const char kOutOfMemoryText[] = "bad allocation";

// Where null out-parameters write.
XMP_StringPtr sVoidStringPtr = nullptr;
XMP_StringLen sVoidStringLen = 0;
XMP_OptionBits sVoidOptionBits = 0;

// Reports of the functions that have no record of their own.
XMPCallResult sStaticResult;

// The text of the last standard exception caught, kept for the client.
thread_local char sExceptionText[512];

XMP_StringPtr KeepExceptionText(const char* text) {
  if (text == nullptr) return "";
  size_t length = strnlen(text, sizeof sExceptionText - 1);
  memcpy(sExceptionText, text, length);
  sExceptionText[length] = '\0';
  return sExceptionText;
}

// Every exhaustion of memory is recorded alike, whatever the exception's
// own text, so that a client can tell it from a failure of the data.
void RecordOutOfMemory(XMPCallResult* result) {
  result->intResult = kXMPErr_StdException;
  result->message = kOutOfMemoryText;
}

bool IsEmpty(XMP_StringPtr text) { return text == nullptr || *text == '\0'; }

void Check(bool failed, XMP_Int32 id, XMP_StringPtr message) {
  if (failed) XMP_Throw(id, message);
}

template <typename T>
T* OrDummy(T* out, T* dummy) {
  return out != nullptr ? out : dummy;
}

// Runs `body` under the toolkit lock and turns every failure into the
// record. `body` gets the guard and detaches it to return with the lock held.
template <typename Body>
void Guarded(XMPCallResult* result, Body body) {
  result->message = nullptr;
  try {
    CoreLockGuard guard;
    body(guard);
  } catch (const XMP_Error& error) {
    result->intResult = error.GetID();
    result->pointerResult = const_cast<char*>("XMP");
    result->message = error.GetErrMsg() != nullptr ? error.GetErrMsg() : "";
  } catch (const std::bad_alloc&) {
    RecordOutOfMemory(result);
  } catch (const std::exception& error) {
    result->intResult = kXMPErr_StdException;
    result->message = KeepExceptionText(error.what());
  } catch (...) {
    result->intResult = kXMPErr_UnknownException;
    result->message = "Caught unknown exception";
  }
}

// Runs `body` for a function without a record: every failure is swallowed.
template <typename Body>
void Swallowed(Body body) {
  sStaticResult.message = nullptr;
  try {
    body();
  } catch (...) {
  }
}

void CheckSchemaAndName(XMP_StringPtr schemaNS, XMP_StringPtr name, XMP_StringPtr nameMessage) {
  Check(IsEmpty(schemaNS), kXMPErr_BadSchema, "Empty schema namespace URI");
  Check(IsEmpty(name), kXMPErr_BadXPath, nameMessage);
}

}  // namespace

bool XMPCall_RanOutOfMemory(const XMPCallResult& result) {
  return result.message != nullptr && result.intResult == kXMPErr_StdException &&
         strcmp(result.message, kOutOfMemoryText) == 0;
}

void XMPCall_Initialize(XMP_AllocateProc allocate, XMP_DeleteProc free, XMPCallResult* result) {
  result->message = nullptr;
  try {
    Check((allocate == nullptr) != (free == nullptr), kXMPErr_BadParam,
          "The allocate/delete functions must be provided together or not at all");
    result->intResult = XMPMeta::Initialize(allocate, free) ? 1 : 0;
  } catch (const XMP_Error& error) {
    result->intResult = error.GetID();
    result->pointerResult = const_cast<char*>("XMP");
    result->message = error.GetErrMsg() != nullptr ? error.GetErrMsg() : "";
  } catch (const std::bad_alloc&) {
    RecordOutOfMemory(result);
  } catch (const std::exception& error) {
    result->intResult = kXMPErr_StdException;
    result->message = KeepExceptionText(error.what());
  } catch (...) {
    result->intResult = kXMPErr_UnknownException;
    result->message = "Caught unknown exception";
  }
}

void XMPCall_Shutdown() {
  Swallowed([] { XMPMeta::Shutdown(); });
}

void XMPCall_NewMeta(XMPCallResult* result) {
  Guarded(result, [result](CoreLockGuard&) {
    auto* meta = new XMPMeta;
    meta->clientRefs = 1;
    result->pointerResult = meta;
  });
}

void XMPCall_AddRef(XMPMeta* meta) {
  Swallowed([meta] {
    CoreLockGuard guard;
    ++meta->clientRefs;
  });
}

void XMPCall_Release(XMPMeta* meta) {
  Swallowed([meta] {
    CoreLockGuard guard;
    if (--meta->clientRefs <= 0) delete meta;
  });
}

void XMPCall_DefineNamespace(XMP_StringPtr namespaceURI, XMP_StringPtr suggestedPrefix,
                             XMP_StringPtr* registeredPrefix, XMP_StringLen* prefixLength, XMPCallResult* result) {
  Guarded(result, [&](CoreLockGuard& guard) {
    Check(IsEmpty(namespaceURI), kXMPErr_BadSchema, "Empty namespace URI");
    Check(IsEmpty(suggestedPrefix), kXMPErr_BadSchema, "Empty suggested prefix");
    bool same = XMPMeta::DefineNamespace(namespaceURI, suggestedPrefix, OrDummy(registeredPrefix, &sVoidStringPtr),
                                         OrDummy(prefixLength, &sVoidStringLen));
    result->intResult = same ? 1 : 0;
    guard.Detach();
  });
}

void XMPCall_ReleaseLock(XMP_OptionBits) {
  Swallowed([] { XMPMeta::ReleaseLock(); });
}

void XMPCall_GetProperty(XMPMeta* meta, XMP_StringPtr schemaNS, XMP_StringPtr propName, XMP_StringPtr* value,
                         XMP_StringLen* valueLength, XMP_OptionBits* options, XMPCallResult* result) {
  Guarded(result, [&](CoreLockGuard& guard) {
    CheckSchemaAndName(schemaNS, propName, "Empty property name");
    bool found = meta->GetProperty(schemaNS, propName, OrDummy(value, &sVoidStringPtr),
                                   OrDummy(valueLength, &sVoidStringLen), OrDummy(options, &sVoidOptionBits));
    result->intResult = found ? 1 : 0;
    if (found) guard.Detach();
  });
}

void XMPCall_GetArrayItem(XMPMeta* meta, XMP_StringPtr schemaNS, XMP_StringPtr arrayName, XMP_Index itemIndex,
                          XMP_StringPtr* value, XMP_StringLen* valueLength, XMP_OptionBits* options,
                          XMPCallResult* result) {
  Guarded(result, [&](CoreLockGuard& guard) {
    CheckSchemaAndName(schemaNS, arrayName, "Empty array name");
    bool found = meta->GetArrayItem(schemaNS, arrayName, itemIndex, OrDummy(value, &sVoidStringPtr),
                                    OrDummy(valueLength, &sVoidStringLen), OrDummy(options, &sVoidOptionBits));
    result->intResult = found ? 1 : 0;
    if (found) guard.Detach();
  });
}

void XMPCall_GetStructField(XMPMeta* meta, XMP_StringPtr schemaNS, XMP_StringPtr structName,
                            XMP_StringPtr fieldNS, XMP_StringPtr fieldName, XMP_StringPtr* value,
                            XMP_StringLen* valueLength, XMP_OptionBits* options, XMPCallResult* result) {
  Guarded(result, [&](CoreLockGuard& guard) {
    CheckSchemaAndName(schemaNS, structName, "Empty struct name");
    Check(IsEmpty(fieldNS), kXMPErr_BadSchema, "Empty field namespace URI");
    Check(IsEmpty(fieldName), kXMPErr_BadXPath, "Empty field name");
    bool found = meta->GetStructField(schemaNS, structName, fieldNS, fieldName, OrDummy(value, &sVoidStringPtr),
                                      OrDummy(valueLength, &sVoidStringLen), OrDummy(options, &sVoidOptionBits));
    result->intResult = found ? 1 : 0;
    if (found) guard.Detach();
  });
}

void XMPCall_SetProperty(XMPMeta* meta, XMP_StringPtr schemaNS, XMP_StringPtr propName, XMP_StringPtr value,
                         XMP_OptionBits options, XMPCallResult* result) {
  Guarded(result, [&](CoreLockGuard&) {
    CheckSchemaAndName(schemaNS, propName, "Empty property name");
    meta->SetProperty(schemaNS, propName, value, options);
  });
}

void XMPCall_AppendArrayItem(XMPMeta* meta, XMP_StringPtr schemaNS, XMP_StringPtr arrayName,
                             XMP_OptionBits arrayOptions, XMP_StringPtr itemValue, XMP_OptionBits itemOptions,
                             XMPCallResult* result) {
  Guarded(result, [&](CoreLockGuard&) {
    CheckSchemaAndName(schemaNS, arrayName, "Empty array name");
    meta->AppendArrayItem(schemaNS, arrayName, arrayOptions, itemValue, itemOptions);
  });
}

void XMPCall_SetStructField(XMPMeta* meta, XMP_StringPtr schemaNS, XMP_StringPtr structName,
                            XMP_StringPtr fieldNS, XMP_StringPtr fieldName, XMP_StringPtr fieldValue,
                            XMP_OptionBits options, XMPCallResult* result) {
  Guarded(result, [&](CoreLockGuard&) {
    CheckSchemaAndName(schemaNS, structName, "Empty struct name");
    Check(IsEmpty(fieldNS), kXMPErr_BadSchema, "Empty field namespace URI");
    Check(IsEmpty(fieldName), kXMPErr_BadXPath, "Empty field name");
    meta->SetStructField(schemaNS, structName, fieldNS, fieldName, fieldValue, options);
  });
}

void XMPCall_DeleteProperty(XMPMeta* meta, XMP_StringPtr schemaNS, XMP_StringPtr propName, XMPCallResult* result) {
  Guarded(result, [&](CoreLockGuard&) {
    CheckSchemaAndName(schemaNS, propName, "Empty property name");
    meta->DeleteProperty(schemaNS, propName);
  });
}

void XMPCall_HasProperty(XMPMeta* meta, XMP_StringPtr schemaNS, XMP_StringPtr propName, XMPCallResult* result) {
  Guarded(result, [&](CoreLockGuard&) {
    CheckSchemaAndName(schemaNS, propName, "Empty property name");
    result->intResult = meta->HasProperty(schemaNS, propName) ? 1 : 0;
  });
}

void XMPCall_GetLocalizedText(XMPMeta* meta, XMP_StringPtr schemaNS, XMP_StringPtr arrayName,
                              XMP_StringPtr genericLang, XMP_StringPtr specificLang, XMP_StringPtr* actualLang,
                              XMP_StringLen* langLength, XMP_StringPtr* value, XMP_StringLen* valueLength,
                              XMP_OptionBits* options, XMPCallResult* result) {
  Guarded(result, [&](CoreLockGuard& guard) {
    CheckSchemaAndName(schemaNS, arrayName, "Empty array name");
    Check(IsEmpty(specificLang), kXMPErr_BadParam, "Empty specific language");
    bool found = meta->GetLocalizedText(schemaNS, arrayName, genericLang == nullptr ? "" : genericLang, specificLang,
                                        OrDummy(actualLang, &sVoidStringPtr), OrDummy(langLength, &sVoidStringLen),
                                        OrDummy(value, &sVoidStringPtr), OrDummy(valueLength, &sVoidStringLen),
                                        OrDummy(options, &sVoidOptionBits));
    result->intResult = found ? 1 : 0;
    if (found) guard.Detach();
  });
}

void XMPCall_SetLocalizedText(XMPMeta* meta, XMP_StringPtr schemaNS, XMP_StringPtr arrayName,
                              XMP_StringPtr genericLang, XMP_StringPtr specificLang, XMP_StringPtr value,
                              XMP_OptionBits options, XMPCallResult* result) {
  Guarded(result, [&](CoreLockGuard&) {
    CheckSchemaAndName(schemaNS, arrayName, "Empty array name");
    Check(IsEmpty(specificLang), kXMPErr_BadParam, "Empty specific language");
    meta->SetLocalizedText(schemaNS, arrayName, genericLang == nullptr ? "" : genericLang, specificLang,
                           value == nullptr ? "" : value, options);
  });
}

void XMPCall_ReleaseLockForObject(XMPMeta* meta, XMP_OptionBits) {
  Swallowed([meta] { meta->ReleaseLockForObject(); });
}

void XMPCall_ParseFromBuffer(XMPMeta* meta, XMP_StringPtr buffer, XMP_StringLen length, XMP_OptionBits options,
                             XMPCallResult* result) {
  Guarded(result, [&](CoreLockGuard&) { meta->ParseFromBuffer(buffer, length, options); });
}

void XMPCall_SerializeToBuffer(XMPMeta* meta, XMP_StringPtr* packet, XMP_StringLen* packetLength,
                               XMP_OptionBits options, XMP_StringLen padding, XMP_StringPtr newline,
                               XMP_StringPtr indent, XMP_Index baseIndent, XMPCallResult* result) {
  Guarded(result, [&](CoreLockGuard& guard) {
    meta->SerializeToBuffer(OrDummy(packet, &sVoidStringPtr), OrDummy(packetLength, &sVoidStringLen), options,
                            padding, newline == nullptr ? "" : newline, indent == nullptr ? "" : indent, baseIndent);
    guard.Detach();
  });
}
