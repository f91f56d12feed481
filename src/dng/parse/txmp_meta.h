// The client class over the toolkit's locked call layer: one counted
// reference to a metadata object, texts in standard strings, failures thrown
// as XMP_Error.
#pragma once

#include <string>

#include "xmp/allocation_hooks.h"
#include "xmp/xmp_types.h"

class XMPMeta;

// Every operation calls the call-layer function of the same name; a result
// record that carries a message throws XMP_Error (the record's id and
// message). Texts the toolkit returns under its lock are copied into the
// caller's strings (any of which may be null) and the lock is then left,
// also when the copy fails. Copies share the metadata object and count the
// reference. One thread at a time (the toolkit's lock guards the toolkit,
// not this object).
class TXMPMeta {
 public:
  // Starts the toolkit (this system passes two nulls); false when it says so.
  static bool Initialize(XMP_AllocateProc allocate, XMP_DeleteProc free);
  // Registers a namespace; the registered prefix is copied into
  // registered_prefix. True when it equals the suggested one.
  static bool DefineNamespace(const char* namespace_uri, const char* suggested_prefix,
                              std::string* registered_prefix);

  // A new empty metadata object.
  TXMPMeta();
  TXMPMeta(const TXMPMeta& other);
  TXMPMeta& operator=(const TXMPMeta&) = delete;
  virtual ~TXMPMeta();

  XMPMeta* Handle() const { return meta_; }

  bool GetProperty(const char* schema_ns, const char* path, std::string* value, XMP_OptionBits* options) const;
  bool GetArrayItem(const char* schema_ns, const char* array_path, XMP_Index index, std::string* value,
                    XMP_OptionBits* options) const;
  bool GetStructField(const char* schema_ns, const char* struct_path, const char* field_ns, const char* field_name,
                      std::string* value, XMP_OptionBits* options) const;
  bool GetLocalizedText(const char* schema_ns, const char* path, const char* generic_lang, const char* specific_lang,
                        std::string* actual_lang, std::string* value, XMP_OptionBits* options) const;
  void SerializeToBuffer(std::string* packet, XMP_OptionBits options, XMP_StringLen padding, const char* newline,
                         const char* indent, XMP_Index base_indent) const;

  void SetProperty(const char* schema_ns, const char* path, const char* value, XMP_OptionBits options);
  void SetStructField(const char* schema_ns, const char* struct_path, const char* field_ns, const char* field_name,
                      const char* value, XMP_OptionBits options);
  void SetLocalizedText(const char* schema_ns, const char* path, const char* generic_lang, const char* specific_lang,
                        const char* value, XMP_OptionBits options);
  void DeleteProperty(const char* schema_ns, const char* path);
  bool HasProperty(const char* schema_ns, const char* path) const;

 private:
  XMPMeta* meta_ = nullptr;
};
