#include "dng/parse/txmp_meta.h"

#include "xmp/xmp_call.h"
#include "xmp/xmp_error.h"

namespace {

// Throws the failure a result record reports: exhausted memory as
// std::bad_alloc, anything else as the toolkit's error.
void check(const XMPCallResult& result) {
  if (result.message == nullptr) return;
  if (XMPCall_RanOutOfMemory(result)) throw XMP_BadAlloc();
  throw XMP_Error(result.intResult, result.message);
}

// Leaves the toolkit lock that a "held" call kept for its texts, when the
// copies are done or have failed.
class HeldObjectLock {
 public:
  explicit HeldObjectLock(XMPMeta* meta) : meta_(meta) {}
  HeldObjectLock(const HeldObjectLock&) = delete;
  HeldObjectLock& operator=(const HeldObjectLock&) = delete;
  ~HeldObjectLock() { XMPCall_ReleaseLockForObject(meta_, 0); }

 private:
  XMPMeta* meta_;
};

class HeldLock {
 public:
  HeldLock() = default;
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;
  ~HeldLock() { XMPCall_ReleaseLock(0); }
};

void copy_text(std::string* out, XMP_StringPtr text, XMP_StringLen length) {
  if (out != nullptr) out->assign(text != nullptr ? text : "", text != nullptr ? length : 0);
}

}  // namespace

bool TXMPMeta::Initialize(XMP_AllocateProc allocate, XMP_DeleteProc free) {
  XMPCallResult result;
  XMPCall_Initialize(allocate, free, &result);
  check(result);
  return result.intResult != 0;
}

bool TXMPMeta::DefineNamespace(const char* namespace_uri, const char* suggested_prefix,
                               std::string* registered_prefix) {
  XMPCallResult result;
  XMP_StringPtr prefix = nullptr;
  XMP_StringLen length = 0;
  XMPCall_DefineNamespace(namespace_uri, suggested_prefix, &prefix, &length, &result);
  check(result);
  HeldLock held;
  copy_text(registered_prefix, prefix, length);
  return result.intResult != 0;
}

TXMPMeta::TXMPMeta() {
  XMPCallResult result;
  XMPCall_NewMeta(&result);
  check(result);
  meta_ = static_cast<XMPMeta*>(result.pointerResult);
}

TXMPMeta::TXMPMeta(const TXMPMeta& other) : meta_(other.meta_) {
  if (meta_ != nullptr) XMPCall_AddRef(meta_);
}

TXMPMeta::~TXMPMeta() {
  if (meta_ != nullptr) XMPCall_Release(meta_);
  meta_ = nullptr;
}

bool TXMPMeta::GetProperty(const char* schema_ns, const char* path, std::string* value,
                           XMP_OptionBits* options) const {
  XMPCallResult result;
  XMP_StringPtr text = nullptr;
  XMP_StringLen length = 0;
  XMPCall_GetProperty(meta_, schema_ns, path, &text, &length, options, &result);
  check(result);
  if (result.intResult == 0) return false;
  HeldObjectLock held(meta_);
  copy_text(value, text, length);
  return true;
}

bool TXMPMeta::GetArrayItem(const char* schema_ns, const char* array_path, XMP_Index index, std::string* value,
                            XMP_OptionBits* options) const {
  XMPCallResult result;
  XMP_StringPtr text = nullptr;
  XMP_StringLen length = 0;
  XMPCall_GetArrayItem(meta_, schema_ns, array_path, index, &text, &length, options, &result);
  check(result);
  if (result.intResult == 0) return false;
  HeldObjectLock held(meta_);
  copy_text(value, text, length);
  return true;
}

bool TXMPMeta::GetStructField(const char* schema_ns, const char* struct_path, const char* field_ns,
                              const char* field_name, std::string* value, XMP_OptionBits* options) const {
  XMPCallResult result;
  XMP_StringPtr text = nullptr;
  XMP_StringLen length = 0;
  XMPCall_GetStructField(meta_, schema_ns, struct_path, field_ns, field_name, &text, &length, options, &result);
  check(result);
  if (result.intResult == 0) return false;
  HeldObjectLock held(meta_);
  copy_text(value, text, length);
  return true;
}

bool TXMPMeta::GetLocalizedText(const char* schema_ns, const char* path, const char* generic_lang,
                                const char* specific_lang, std::string* actual_lang, std::string* value,
                                XMP_OptionBits* options) const {
  XMPCallResult result;
  XMP_StringPtr lang = nullptr;
  XMP_StringLen lang_length = 0;
  XMP_StringPtr text = nullptr;
  XMP_StringLen length = 0;
  XMPCall_GetLocalizedText(meta_, schema_ns, path, generic_lang, specific_lang, &lang, &lang_length, &text, &length,
                           options, &result);
  check(result);
  if (result.intResult == 0) return false;
  HeldObjectLock held(meta_);
  copy_text(actual_lang, lang, lang_length);
  copy_text(value, text, length);
  return true;
}

void TXMPMeta::SerializeToBuffer(std::string* packet, XMP_OptionBits options, XMP_StringLen padding,
                                 const char* newline, const char* indent, XMP_Index base_indent) const {
  XMPCallResult result;
  XMP_StringPtr text = nullptr;
  XMP_StringLen length = 0;
  XMPCall_SerializeToBuffer(meta_, &text, &length, options, padding, newline, indent, base_indent, &result);
  check(result);
  HeldObjectLock held(meta_);
  copy_text(packet, text, length);
}

void TXMPMeta::SetProperty(const char* schema_ns, const char* path, const char* value, XMP_OptionBits options) {
  XMPCallResult result;
  XMPCall_SetProperty(meta_, schema_ns, path, value, options, &result);
  check(result);
}

void TXMPMeta::SetStructField(const char* schema_ns, const char* struct_path, const char* field_ns,
                              const char* field_name, const char* value, XMP_OptionBits options) {
  XMPCallResult result;
  XMPCall_SetStructField(meta_, schema_ns, struct_path, field_ns, field_name, value, options, &result);
  check(result);
}

void TXMPMeta::SetLocalizedText(const char* schema_ns, const char* path, const char* generic_lang,
                                const char* specific_lang, const char* value, XMP_OptionBits options) {
  XMPCallResult result;
  XMPCall_SetLocalizedText(meta_, schema_ns, path, generic_lang, specific_lang, value, options, &result);
  check(result);
}

void TXMPMeta::DeleteProperty(const char* schema_ns, const char* path) {
  XMPCallResult result;
  XMPCall_DeleteProperty(meta_, schema_ns, path, &result);
  check(result);
}

bool TXMPMeta::HasProperty(const char* schema_ns, const char* path) const {
  XMPCallResult result;
  XMPCall_HasProperty(meta_, schema_ns, path, &result);
  check(result);
  return result.intResult != 0;
}
