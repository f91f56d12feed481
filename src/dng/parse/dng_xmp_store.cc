#include "dng/parse/dng_xmp_store.h"

#include <cstring>
#include <new>
#include <string>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_memory_allocator.h"
#include "dng/core/dng_memory_block.h"
#include "dng/core/dng_text.h"
#include "dng/core/dng_text_list.h"
#include "dng/parse/txmp_meta.h"
#include "dng/parse/xmp_toolkit.h"
#include "xmp/xmp_call.h"
#include "xmp/xmp_error.h"

namespace {

constexpr const char kDefaultLanguage[] = "x-default";

// Serialisation options of the toolkit.
constexpr uint32_t kExactPacketLength = 0x200;
constexpr uint32_t kOmitPacketWrapper = 0x10;

// The one place where write failures become codes: memory 100005, anything
// foreign 100000; DNG codes pass as they are.
template <class Body>
void write_mapped(Body body) {
  try {
    body();
  } catch (const dng_exception&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw_dng_code(dng_code_memory);
  } catch (...) {
    throw_dng_code(dng_code_unknown);
  }
}

// Reads: memory 100005 (also from the DNG texts the value is copied into),
// every other failure false.
template <class Body>
bool read_mapped(Body body) {
  try {
    return body();
  } catch (const dng_exception& e) {
    if (e.Code() == dng_code_memory) throw;
    return false;
  } catch (const std::bad_alloc&) {
    throw_dng_code(dng_code_memory);
  } catch (...) {
    return false;
  }
}

// The form in which texts are stored: LF line ends, no control bytes.
dng_text stored_form(const dng_text& text) {
  dng_text copy(text);
  copy.NormalizeLineEnds('\n');
  copy.DropControlChars();
  return copy;
}

void throw_call_failure(const XMPCallResult& result) {
  if (result.message == nullptr) return;
  if (XMPCall_RanOutOfMemory(result)) throw XMP_BadAlloc();
  throw XMP_Error(result.intResult, result.message);
}

}  // namespace

dng_xmp_store::dng_xmp_store() {
  try {
    holder_ = std::make_unique<xmp_meta_holder>();
  } catch (const std::bad_alloc&) {
    throw_dng_code(dng_code_memory);
  }
}

dng_xmp_store::dng_xmp_store(const dng_xmp_store& other) : dng_xmp_store() {
  if (other.HoldsMeta()) {
    try {
      holder_->meta = new TXMPMeta(*other.holder_->meta);
    } catch (const std::bad_alloc&) {
      throw_dng_code(dng_code_memory);
    }
  }
}

dng_xmp_store::~dng_xmp_store() { DropMeta(); }

void dng_xmp_store::DropMeta() {
  delete holder_->meta;
  holder_->meta = nullptr;
}

void dng_xmp_store::MakeMeta() {
  DropMeta();
  xmp_toolkit_initialize();
  write_mapped([this] { holder_->meta = new TXMPMeta; });
}

void dng_xmp_store::ParsePacket(dng_host& host, const void* bytes, uint32_t length) {
  try {
    MakeMeta();
    write_mapped([&] {
      XMPCallResult result;
      XMPCall_ParseFromBuffer(holder_->meta->Handle(), static_cast<const char*>(bytes), length, 0, &result);
      throw_call_failure(result);
    });
  } catch (const dng_exception& e) {
    DropMeta();
    if (host.IsRetryableCode(e.Code())) throw;
    throw_dng_code(dng_code_bad_format);
  }
}

bool dng_xmp_store::ItemExists(const char* ns, const char* path) const {
  if (!HoldsMeta()) return false;
  try {
    return holder_->meta->HasProperty(ns, path);
  } catch (const std::bad_alloc&) {
    throw_dng_code(dng_code_memory);
  } catch (...) {
    return false;
  }
}

void dng_xmp_store::DeleteItem(const char* ns, const char* path) {
  if (!HoldsMeta()) return;
  try {
    holder_->meta->DeleteProperty(ns, path);
  } catch (const std::bad_alloc&) {
    throw_dng_code(dng_code_memory);
  } catch (...) {
  }
}

bool dng_xmp_store::GetText(const char* ns, const char* path, dng_text& text) const {
  if (!HoldsMeta()) return false;
  return read_mapped([&] {
    std::string value;
    if (!holder_->meta->GetProperty(ns, path, &value, nullptr)) return false;
    text.Assign(value.c_str());
    return true;
  });
}

bool dng_xmp_store::GetTextList(const char* ns, const char* path, dng_text_list& list) const {
  if (!HoldsMeta()) return false;
  return read_mapped([&] {
    bool any = false;
    std::string value;
    for (XMP_Index index = 1; holder_->meta->GetArrayItem(ns, path, index, &value, nullptr); ++index) {
      list.Append(dng_text(value.c_str()));
      any = true;
    }
    return any;
  });
}

bool dng_xmp_store::GetDefaultLangText(const char* ns, const char* path, dng_text& text) const {
  if (!HoldsMeta()) return false;
  return read_mapped([&] {
    std::string value;
    if (!holder_->meta->GetLocalizedText(ns, path, kDefaultLanguage, kDefaultLanguage, nullptr, &value, nullptr)) {
      return false;
    }
    text.Assign(value.c_str());
    return true;
  });
}

bool dng_xmp_store::GetFieldText(const char* ns, const char* struct_path, const char* field_ns,
                                 const char* field_name, dng_text& text) const {
  if (!HoldsMeta()) return false;
  return read_mapped([&] {
    std::string value;
    if (!holder_->meta->GetStructField(ns, struct_path, field_ns, field_name, &value, nullptr)) return false;
    text.Assign(value.c_str());
    return true;
  });
}

void dng_xmp_store::SetValue(const char* ns, const char* path, const char* value) {
  if (!HoldsMeta()) MakeMeta();
  try {
    holder_->meta->SetProperty(ns, path, value, 0);
    return;
  } catch (const std::bad_alloc&) {
    throw_dng_code(dng_code_memory);
  } catch (...) {
  }
  DeleteItem(ns, path);
  write_mapped([&] { holder_->meta->SetProperty(ns, path, value, 0); });
}

void dng_xmp_store::SetText(const char* ns, const char* path, const dng_text& text) {
  dng_text stored = stored_form(text);
  SetValue(ns, path, stored.CStr());
}

void dng_xmp_store::SetTextList(const char* ns, const char* path, const dng_text_list& list, bool unordered) {
  DeleteItem(ns, path);
  if (list.Count() == 0) return;
  if (!HoldsMeta()) MakeMeta();
  const uint32_t array_options = unordered ? dng_xmp_unordered_array : dng_xmp_ordered_array;
  for (uint32_t i = 0; i < list.Count(); ++i) {
    dng_text stored = stored_form(list[i]);
    write_mapped([&] {
      XMPCallResult result;
      XMPCall_AppendArrayItem(holder_->meta->Handle(), ns, path, array_options, stored.CStr(), 0, &result);
      throw_call_failure(result);
    });
  }
}

void dng_xmp_store::SetDefaultLangText(const char* ns, const char* path, const dng_text& text) {
  if (!HoldsMeta()) MakeMeta();
  DeleteItem(ns, path);
  dng_text stored = stored_form(text);
  write_mapped([&] {
    holder_->meta->SetLocalizedText(ns, path, kDefaultLanguage, kDefaultLanguage, stored.CStr(), 0);
  });
}

void dng_xmp_store::SetFieldText(const char* ns, const char* struct_path, const char* field_ns,
                                 const char* field_name, const dng_text& value) {
  if (!HoldsMeta()) MakeMeta();
  write_mapped([&] { holder_->meta->SetStructField(ns, struct_path, field_ns, field_name, value.CStr(), 0); });
}

std::unique_ptr<dng_memory_block> dng_xmp_store::SerializeToBlock(dng_memory_allocator& allocator, bool packet,
                                                                  uint32_t target_length, uint32_t padding) const {
  if (!HoldsMeta()) return nullptr;
  std::string text;
  bool done = false;
  if (packet && target_length != 0) {
    try {
      holder_->meta->SerializeToBuffer(&text, kExactPacketLength, target_length, "", " ", 0);
      done = true;
    } catch (const std::bad_alloc&) {
      throw_dng_code(dng_code_memory);
    } catch (...) {
    }
  }
  if (!done) {
    write_mapped([&] {
      holder_->meta->SerializeToBuffer(&text, packet ? 0 : kOmitPacketWrapper, packet ? padding : 0, "", " ", 0);
    });
  }
  if (text.empty()) return nullptr;
  std::unique_ptr<dng_memory_block> block(allocator.NewBlock(static_cast<uint32_t>(text.size())));
  std::memcpy(block->Buffer(), text.data(), text.size());
  return block;
}
