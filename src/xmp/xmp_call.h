// The locked call layer: the toolkit's only door for its clients. Every
// function takes the toolkit lock, checks its arguments, calls the metadata
// object or the registries, and turns every failure into a result record;
// no exception leaves a function of this layer.
#pragma once

#include "xmp/allocation_hooks.h"
#include "xmp/xmp_types.h"

class XMPMeta;

// Filled by every function that has one. message is null on success and
// the error text on failure (the text stays readable until the next call);
// intResult is then the error id and, for an XMP_Error, pointerResult is the
// text "XMP".
struct XMPCallResult {
  XMP_StringPtr message = nullptr;
  void* pointerResult = nullptr;
  XMP_Int32 intResult = 0;
};

// Whether a failed call ran out of memory: every std::bad_alloc is recorded
// as id 13 with the text "bad allocation". Clients treat it as exhaustion,
// not as a failure of the data they passed.
bool XMPCall_RanOutOfMemory(const XMPCallResult& result);

// Functions marked "held" return with the toolkit lock still entered when
// they succeed (and found what they looked for), so that the texts they
// return stay unchanged; the caller copies them and then calls
// XMPCall_ReleaseLockForObject (object calls) or XMPCall_ReleaseLock
// (XMPCall_DefineNamespace). Null out-parameters are allowed.

void XMPCall_Initialize(XMP_AllocateProc allocate, XMP_DeleteProc free, XMPCallResult* result);
void XMPCall_Shutdown();

void XMPCall_NewMeta(XMPCallResult* result);
void XMPCall_AddRef(XMPMeta* meta);
void XMPCall_Release(XMPMeta* meta);

// Held.
void XMPCall_DefineNamespace(XMP_StringPtr namespaceURI, XMP_StringPtr suggestedPrefix,
                             XMP_StringPtr* registeredPrefix, XMP_StringLen* prefixLength, XMPCallResult* result);
void XMPCall_ReleaseLock(XMP_OptionBits options);

// Held when found.
void XMPCall_GetProperty(XMPMeta* meta, XMP_StringPtr schemaNS, XMP_StringPtr propName, XMP_StringPtr* value,
                         XMP_StringLen* valueLength, XMP_OptionBits* options, XMPCallResult* result);
void XMPCall_GetArrayItem(XMPMeta* meta, XMP_StringPtr schemaNS, XMP_StringPtr arrayName, XMP_Index itemIndex,
                          XMP_StringPtr* value, XMP_StringLen* valueLength, XMP_OptionBits* options,
                          XMPCallResult* result);
void XMPCall_GetStructField(XMPMeta* meta, XMP_StringPtr schemaNS, XMP_StringPtr structName,
                            XMP_StringPtr fieldNS, XMP_StringPtr fieldName, XMP_StringPtr* value,
                            XMP_StringLen* valueLength, XMP_OptionBits* options, XMPCallResult* result);

void XMPCall_SetProperty(XMPMeta* meta, XMP_StringPtr schemaNS, XMP_StringPtr propName, XMP_StringPtr value,
                         XMP_OptionBits options, XMPCallResult* result);
void XMPCall_AppendArrayItem(XMPMeta* meta, XMP_StringPtr schemaNS, XMP_StringPtr arrayName,
                             XMP_OptionBits arrayOptions, XMP_StringPtr itemValue, XMP_OptionBits itemOptions,
                             XMPCallResult* result);
void XMPCall_SetStructField(XMPMeta* meta, XMP_StringPtr schemaNS, XMP_StringPtr structName,
                            XMP_StringPtr fieldNS, XMP_StringPtr fieldName, XMP_StringPtr fieldValue,
                            XMP_OptionBits options, XMPCallResult* result);
void XMPCall_DeleteProperty(XMPMeta* meta, XMP_StringPtr schemaNS, XMP_StringPtr propName, XMPCallResult* result);
void XMPCall_HasProperty(XMPMeta* meta, XMP_StringPtr schemaNS, XMP_StringPtr propName, XMPCallResult* result);

// Held when found.
void XMPCall_GetLocalizedText(XMPMeta* meta, XMP_StringPtr schemaNS, XMP_StringPtr arrayName,
                              XMP_StringPtr genericLang, XMP_StringPtr specificLang, XMP_StringPtr* actualLang,
                              XMP_StringLen* langLength, XMP_StringPtr* value, XMP_StringLen* valueLength,
                              XMP_OptionBits* options, XMPCallResult* result);
void XMPCall_SetLocalizedText(XMPMeta* meta, XMP_StringPtr schemaNS, XMP_StringPtr arrayName,
                              XMP_StringPtr genericLang, XMP_StringPtr specificLang, XMP_StringPtr value,
                              XMP_OptionBits options, XMPCallResult* result);
void XMPCall_ReleaseLockForObject(XMPMeta* meta, XMP_OptionBits options);

void XMPCall_ParseFromBuffer(XMPMeta* meta, XMP_StringPtr buffer, XMP_StringLen length, XMP_OptionBits options,
                             XMPCallResult* result);
// Held.
void XMPCall_SerializeToBuffer(XMPMeta* meta, XMP_StringPtr* packet, XMP_StringLen* packetLength,
                               XMP_OptionBits options, XMP_StringLen padding, XMP_StringPtr newline,
                               XMP_StringPtr indent, XMP_Index baseIndent, XMPCallResult* result);
