// A metadata object: one tree of schema, property, array and qualifier
// nodes, and the static registries and start-up shared by all objects.
//
// Every operation must be called with CoreLock held (the call layer does
// that); text results point into the tree or the registries and stay valid
// until they change.
#pragma once

#include "xmp/allocation_hooks.h"
#include "xmp/xmp_node.h"
#include "xmp/xmp_types.h"

class XMLParserAdapter;

class XMPMeta {
 public:
  XMPMeta();
  XMPMeta(const XMPMeta&) = delete;
  XMPMeta& operator=(const XMPMeta&) = delete;
  // Deletes a pending packet parser and then the whole tree.
  virtual ~XMPMeta();

  // Toolkit start-up and shutdown, counted: only the first start builds and
  // only the stop that brings the count to 0 tears down.
  static bool Initialize(XMP_AllocateProc allocateProc, XMP_DeleteProc deleteProc);
  static void Shutdown();

  // Leave CoreLock once, after a call that returned with it held.
  static void ReleaseLock();
  void ReleaseLockForObject() const;

  // Namespace and alias registries.
  static bool DefineNamespace(XMP_StringPtr namespaceURI, XMP_StringPtr suggestedPrefix,
                              XMP_StringPtr* registeredPrefix, XMP_StringLen* prefixSize);
  static bool LookupNamespacePrefix(XMP_StringPtr namespaceURI, XMP_StringPtr* namespacePrefix,
                                    XMP_StringLen* prefixSize);
  static void DefineAlias(XMP_StringPtr aliasNS, XMP_StringPtr aliasProp, XMP_StringPtr actualNS,
                          XMP_StringPtr actualProp, XMP_OptionBits arrayForm);
  // The standard aliases of one schema, or of all schemas for "".
  static void DefineStandardAliases(XMP_StringPtr schemaNS);

  // Property access.
  bool GetProperty(XMP_StringPtr schemaNS, XMP_StringPtr propName, XMP_StringPtr* propValue,
                   XMP_StringLen* valueSize, XMP_OptionBits* options) const;
  // itemIndex is 1-based; -1 is the last item.
  bool GetArrayItem(XMP_StringPtr schemaNS, XMP_StringPtr arrayName, XMP_Index itemIndex,
                    XMP_StringPtr* itemValue, XMP_StringLen* valueSize, XMP_OptionBits* options) const;
  bool GetStructField(XMP_StringPtr schemaNS, XMP_StringPtr structName, XMP_StringPtr fieldNS,
                      XMP_StringPtr fieldName, XMP_StringPtr* fieldValue, XMP_StringLen* valueSize,
                      XMP_OptionBits* options) const;
  // A null value makes (or keeps) an array or struct.
  void SetProperty(XMP_StringPtr schemaNS, XMP_StringPtr propName, XMP_StringPtr propValue,
                   XMP_OptionBits options);
  void AppendArrayItem(XMP_StringPtr schemaNS, XMP_StringPtr arrayName, XMP_OptionBits arrayOptions,
                       XMP_StringPtr itemValue, XMP_OptionBits itemOptions);
  void SetStructField(XMP_StringPtr schemaNS, XMP_StringPtr structName, XMP_StringPtr fieldNS,
                      XMP_StringPtr fieldName, XMP_StringPtr fieldValue, XMP_OptionBits options);
  void DeleteProperty(XMP_StringPtr schemaNS, XMP_StringPtr propName);
  bool HasProperty(XMP_StringPtr schemaNS, XMP_StringPtr propName) const;
  bool GetLocalizedText(XMP_StringPtr schemaNS, XMP_StringPtr altTextName, XMP_StringPtr genericLang,
                        XMP_StringPtr specificLang, XMP_StringPtr* actualLang, XMP_StringLen* langSize,
                        XMP_StringPtr* itemValue, XMP_StringLen* valueSize, XMP_OptionBits* options) const;
  void SetLocalizedText(XMP_StringPtr schemaNS, XMP_StringPtr altTextName, XMP_StringPtr genericLang,
                        XMP_StringPtr specificLang, XMP_StringPtr itemValue, XMP_OptionBits options);

  // Packet input and output.
  void ParseFromBuffer(XMP_StringPtr buffer, XMP_StringLen bufferSize, XMP_OptionBits options);
  void SerializeToBuffer(XMP_StringPtr* rdfString, XMP_StringLen* rdfSize, XMP_OptionBits options,
                         XMP_StringLen padding, XMP_StringPtr newline, XMP_StringPtr indent,
                         XMP_Index baseIndent);

  // Client references (the call layer's reference counting); 0 after
  // construction.
  XMP_Int32 clientRefs = 0;
  // 0, or the toolkit version read from the last parsed packet.
  XMP_Int32 prevTkVer = 0;
  // The root: no parent, empty name (or the packet's rdf:about), options 0.
  XMP_Node tree;
  // Non-null only between the buffers of a multi-buffer parse.
  XMLParserAdapter* xmlParser = nullptr;
};
