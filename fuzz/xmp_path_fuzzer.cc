// Takes a schema namespace URI, a property path and a value from the input
// (separated by NUL bytes; the first byte picks set options), expands the
// path, then sets, gets and deletes it on a small tree. A call that fails
// must leave the tree as it was.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "xmp/namespace_registry.h"
#include "xmp/xmp_call.h"
#include "xmp/xmp_error.h"
#include "xmp/xmp_meta.h"
#include "xmp/xpath.h"

namespace {

constexpr const char kEx[] = "http://example.com/ex/";

// Schema URIs the input can name by a one-byte text "0" to "3".
constexpr const char* kSchemas[] = {kXMP_NS_DC, kXMP_NS_XMP, kEx, kXMP_NS_EXIF};

constexpr XMP_OptionBits kSetOptions[] = {
    0, kXMP_PropValueIsURI, kXMP_PropValueIsStruct, kXMP_PropValueIsArray, kXMP_PropArrayIsOrdered,
    kXMP_PropArrayIsAltText, kXMP_DeleteExisting, kXMP_PropValueIsStruct | kXMP_PropValueIsArray,
};

void Dump(const XMP_Node& node, int depth, std::string* out) {
  out->append(static_cast<size_t>(depth), ' ');
  char options[16];
  snprintf(options, sizeof options, "%08X ", node.options);
  *out += options;
  *out += node.name;
  *out += '=';
  *out += node.value;
  *out += '\n';
  for (const XMP_NodeOwner& qual : node.qualifiers) {
    *out += '?';
    Dump(*qual, depth + 1, out);
  }
  for (const XMP_NodeOwner& child : node.children) Dump(*child, depth + 1, out);
}

std::string Dump(const XMPMeta& meta) {
  std::string out;
  Dump(meta.tree, 0, &out);
  return out;
}

void BuildTree(XMPMeta* meta) {
  XMP_StringPtr prefix = nullptr;
  XMP_StringLen length = 0;
  XMPMeta::DefineNamespace(kEx, "ex", &prefix, &length);
  meta->SetProperty(kXMP_NS_DC, "format", "image/dng", 0);
  meta->AppendArrayItem(kXMP_NS_DC, "creator", kXMP_PropArrayIsOrdered, "Ann", 0);
  meta->AppendArrayItem(kXMP_NS_DC, "creator", kXMP_PropArrayIsOrdered, "Bob", 0);
  meta->SetLocalizedText(kXMP_NS_DC, "title", "", "x-default", "Title", 0);
  meta->SetLocalizedText(kXMP_NS_DC, "title", "", "de-DE", "Titel", 0);
  meta->SetStructField(kEx, "ex:s", kEx, "ex:f", "field", 0);
  meta->SetProperty(kEx, "ex:s/ex:g/?ex:q", "qualifier", 0);
  meta->SetProperty(kXMP_NS_XMP, "CreatorTool", "fuzzer", 0);
}

// Runs one operation; when it throws, the tree must be unchanged.
template <typename Call>
void Checked(XMPMeta* meta, const char* what, Call call) {
  const std::string before = Dump(*meta);
  try {
    call();
  } catch (const XMP_Error&) {
    if (Dump(*meta) != before) {
      fprintf(stderr, "failed %s changed the tree\n--- before\n%s--- after\n%s", what, before.c_str(),
              Dump(*meta).c_str());
      abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const XMP_OptionBits options = kSetOptions[data[0] % 8];
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string fields[3];
  for (std::string& field : fields) {
    size_t end = rest.find('\0');
    field = std::string(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  std::string schema = fields[0];
  if (schema.size() == 1 && schema[0] >= '0' && schema[0] <= '3') schema = kSchemas[schema[0] - '0'];
  const std::string& path = fields[1];
  const std::string& value = fields[2];

  XMPCallResult result;
  XMPCall_Initialize(nullptr, nullptr, &result);
  if (result.message != nullptr) abort();
  {
    XMPMeta meta;
    BuildTree(&meta);
    try {
      XMP_ExpandedXPath expanded;
      SplitPath(schema, path, &expanded);
    } catch (const XMP_Error&) {
    }
    Checked(&meta, "set", [&] { meta.SetProperty(schema.c_str(), path.c_str(), value.c_str(), options); });
    Checked(&meta, "set null", [&] { meta.SetProperty(schema.c_str(), path.c_str(), nullptr, options); });
    Checked(&meta, "get", [&] {
      XMP_StringPtr text = nullptr;
      XMP_StringLen length = 0;
      XMP_OptionBits found = 0;
      meta.GetProperty(schema.c_str(), path.c_str(), &text, &length, &found);
    });
    Checked(&meta, "has", [&] { meta.HasProperty(schema.c_str(), path.c_str()); });
    Checked(&meta, "append", [&] { meta.AppendArrayItem(schema.c_str(), path.c_str(), options, value.c_str(), 0); });
    Checked(&meta, "localized", [&] {
      meta.SetLocalizedText(schema.c_str(), path.c_str(), "", value.empty() ? "x-default" : value.c_str(), "v", 0);
    });
    Checked(&meta, "delete", [&] { meta.DeleteProperty(schema.c_str(), path.c_str()); });
  }
  XMPCall_Shutdown();
  return 0;
}
