// Path expressions: the steps a property path text expands into, and the
// checks of XML names and qualified names they are built from.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "xmp/xmp_types.h"

// Step kinds, the low four bits of a step's options.
enum : XMP_OptionBits {
  kXMP_StructFieldStep = 1,   // a qualified name
  kXMP_QualifierStep = 2,     // "?" + qualified name
  kXMP_ArrayIndexStep = 3,    // "[" + decimal digits + "]"
  kXMP_ArrayLastStep = 4,     // "[last()]" or a shorter form of it
  kXMP_QualSelectorStep = 5,  // "[?" + qualified name + "=" + quoted value + "]"
  kXMP_FieldSelectorStep = 6, // "[" + qualified name + "=" + quoted value + "]"
  kXMP_StepKindMask = 0xF,
  // On the root step: the root name is a registered alias.
  kXMP_StepIsAlias = 0x10,
};

// Positions of the two steps every expanded path starts with.
inline constexpr size_t kSchemaStep = 0;
inline constexpr size_t kRootPropStep = 1;

struct XPathStep {
  std::string step;
  XMP_OptionBits options = 0;

  XPathStep() = default;
  XPathStep(std::string text, XMP_OptionBits stepOptions) : step(std::move(text)), options(stepOptions) {}
  bool operator==(const XPathStep&) const = default;
};

// Step 0 holds the schema namespace URI (with the schema bit), step 1 the
// qualified name of the top-level property, and every further step one
// segment of the path text.
using XMP_ExpandedXPath = std::vector<XPathStep>;

inline XMP_OptionBits StepKind(const XPathStep& step) { return step.options & kXMP_StepKindMask; }

// Expands a path text; throws 101/102 on any syntax error or unknown
// namespace. Needs the namespace and alias registries.
void SplitPath(std::string_view schemaNS, std::string_view path, XMP_ExpandedXPath* expandedXPath);

// Validates the top-level name and appends steps 0 and 1.
void CheckRootStep(std::string_view schemaNS, std::string_view rootName, XMP_ExpandedXPath* expandedXPath);

// A qualified name: a registered prefix, a colon and a local name.
void CheckQualName(std::string_view qualName);

// A simple XML name (no colon) as XML 1.0 fifth edition defines
// NameStartChar and NameChar. Non-ASCII characters are decoded from UTF-8;
// malformed or cut-off UTF-8 throws id 4.
void CheckXmlName(std::string_view name);

// The name and unquoted value of a selector step's text.
void SplitSelector(std::string_view stepText, std::string* name, std::string* value);
