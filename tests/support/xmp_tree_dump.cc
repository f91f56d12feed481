// Canonical dumps of metadata trees.
#include "support/xmp_tree_dump.h"

#include <cstdio>

#include "xmp/xmp_meta.h"
#include "xmp/xmp_node.h"

namespace {

void AppendQuoted(const std::string& text, std::string* out) {
  out->push_back('"');
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out->push_back('\\');
      out->push_back(static_cast<char>(c));
    } else if (c < 0x20 || c >= 0x7F) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out->append(escaped);
    } else {
      out->push_back(static_cast<char>(c));
    }
  }
  out->push_back('"');
}

void DumpNode(const XMP_Node& node, int depth, bool isQualifier, std::string* out) {
  out->append(static_cast<size_t>(depth) * 2, ' ');
  if (isQualifier) out->append("? ");
  AppendQuoted(node.name, out);
  if (!node.value.empty()) {
    out->append(" = ");
    AppendQuoted(node.value, out);
  }
  char options[24];
  snprintf(options, sizeof options, " {0x%08X}\n", node.options);
  out->append(options);
  for (const XMP_NodeOwner& qualifier : node.qualifiers) DumpNode(*qualifier, depth + 1, true, out);
  for (const XMP_NodeOwner& child : node.children) DumpNode(*child, depth + 1, false, out);
}

}  // namespace

std::string DumpXmpTree(const XMP_Node& root) {
  std::string out;
  DumpNode(root, 0, false, &out);
  return out;
}

std::string DumpXmpMeta(const XMPMeta& meta) { return DumpXmpTree(meta.tree); }
