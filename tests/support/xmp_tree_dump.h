// A canonical text dump of a metadata tree, for tests that compare trees.
//
// One line per node, indented two spaces per level: qualifiers (each
// marked "?") come before children, both in list order. A line holds the
// node's name, its value in quotes with bytes outside printable ASCII,
// quotes and backslashes escaped as \xHH, \" and \\, and its option bits
// in hex:
//
//   "" {0x00000000}
//     "http://purl.org/dc/elements/1.1/" = "dc:" {0x80000000}
//       "dc:title" {0x00001E00}
//         "[]" = "Hello" {0x00000050}
//           ? "xml:lang" = "x-default" {0x00000020}
#pragma once

#include <string>

class XMP_Node;
class XMPMeta;

std::string DumpXmpTree(const XMP_Node& root);
std::string DumpXmpMeta(const XMPMeta& meta);
