// The alias registry: names that stand for another property or for the
// first (or x-default) item of an array property.
#include <vector>

#include "xmp/namespace_registry.h"
#include "xmp/xmp_error.h"
#include "xmp/xmp_meta.h"

namespace {

const XPathStep kFirstItemStep("[1]", kXMP_ArrayIndexStep);
const XPathStep kDefaultItemStep("[?xml:lang=\"x-default\"]", kXMP_QualSelectorStep);

// Points an actual path at a new actual property, keeping an item step of
// its own: a whole-property actual takes the new actual path entirely, an
// item actual takes its schema and root name and keeps its array form and
// item step.
void Redirect(XMP_ExpandedXPath* actual, const XMP_ExpandedXPath& newActual) {
  if (actual->size() == 2) {
    *actual = newActual;
  } else {
    (*actual)[kSchemaStep].step = newActual[kSchemaStep].step;
    (*actual)[kRootPropStep].step = newActual[kRootPropStep].step;
  }
  (*actual)[kRootPropStep].options &= ~XMP_OptionBits{kXMP_StepIsAlias};
}

}  // namespace

void XMPMeta::DefineAlias(XMP_StringPtr aliasNS, XMP_StringPtr aliasProp, XMP_StringPtr actualNS,
                          XMP_StringPtr actualProp, XMP_OptionBits arrayForm) {
  XMP_ExpandedXPath expAlias, expActual;
  SplitPath(aliasNS == nullptr ? "" : aliasNS, aliasProp == nullptr ? "" : aliasProp, &expAlias);
  SplitPath(actualNS == nullptr ? "" : actualNS, actualProp == nullptr ? "" : actualProp, &expActual);
  if (expAlias.size() != 2 || expActual.size() != 2) {
    XMP_Throw(kXMPErr_BadXPath, "Alias and actual property names must be simple");
  }

  arrayForm = CheckOptions(arrayForm, false);
  if (arrayForm != 0) {
    if (arrayForm & ~XMP_OptionBits{kXMP_PropArrayFormMask}) {
      XMP_Throw(kXMPErr_BadOptions, "Only array form flags are allowed");
    }
    expActual[kRootPropStep].options |= arrayForm;
    expActual.push_back((arrayForm & kXMP_PropArrayIsAltText) ? kDefaultItemStep : kFirstItemStep);
  }

  const std::string& aliasName = expAlias[kRootPropStep].step;
  const auto existing = sAliasMap->find(aliasName);
  if (existing != sAliasMap->end()) {
    const XMP_ExpandedXPath& old = existing->second;
    if ((old[kRootPropStep].options & kXMP_PropArrayFormMask) !=
        (expActual[kRootPropStep].options & kXMP_PropArrayFormMask)) {
      XMP_Throw(kXMPErr_BadParam, "Mismatch with existing alias array form");
    }
    if (old.size() != expActual.size()) XMP_Throw(kXMPErr_BadParam, "Mismatch with existing actual path");
    if (old[kRootPropStep].step != expActual[kRootPropStep].step) {
      XMP_Throw(kXMPErr_BadParam, "Mismatch with existing actual name");
    }
    if (old.size() == 3 && old[2].step != expActual[2].step) {
      XMP_Throw(kXMPErr_BadParam, "Mismatch with existing actual array item");
    }
    return;
  }

  // An actual that is itself an alias is replaced by that alias's actual.
  const auto chained = sAliasMap->find(expActual[kRootPropStep].step);
  if (chained != sAliasMap->end()) {
    if (expActual.size() == 3 && chained->second.size() != 2) {
      XMP_Throw(kXMPErr_BadParam, "Can't alias an array item to an array item");
    }
    Redirect(&expActual, chained->second);
  }
  expActual[kRootPropStep].options &= ~XMP_OptionBits{kXMP_StepIsAlias};

  // Aliases whose actual is the name now becoming an alias follow it to the
  // new actual, so no actual path ever names an alias. All are checked
  // before any changes, so a refused definition changes nothing.
  std::vector<XMP_ExpandedXPath*> followers;
  for (auto& [name, actual] : *sAliasMap) {
    if (actual[kRootPropStep].step != aliasName) continue;
    if (actual.size() == 3 && expActual.size() == 3) {
      XMP_Throw(kXMPErr_BadParam, "Can't alias an array item to an array item");
    }
    followers.push_back(&actual);
  }
  XMP_ExpandedXPath& stored = (*sAliasMap)[aliasName];
  stored = expActual;
  for (XMP_ExpandedXPath* actual : followers) Redirect(actual, expActual);
}

namespace {

struct StandardAlias {
  const char* aliasNS;
  const char* aliasName;
  const char* actualNS;
  const char* actualName;
  XMP_OptionBits arrayForm;
};

constexpr XMP_OptionBits kOrdered = kXMP_PropArrayIsOrdered;
constexpr XMP_OptionBits kAltText = kXMP_PropArrayIsAltText;

constexpr StandardAlias kXmpAliases[] = {
    {kXMP_NS_XMP, "Author", kXMP_NS_DC, "creator", kOrdered},
    {kXMP_NS_XMP, "Authors", kXMP_NS_DC, "creator", 0},
    {kXMP_NS_XMP, "Description", kXMP_NS_DC, "description", 0},
    {kXMP_NS_XMP, "Format", kXMP_NS_DC, "format", 0},
    {kXMP_NS_XMP, "Keywords", kXMP_NS_DC, "subject", 0},
    {kXMP_NS_XMP, "Locale", kXMP_NS_DC, "language", 0},
    {kXMP_NS_XMP, "Title", kXMP_NS_DC, "title", 0},
    {kXMP_NS_XMP_Rights, "Copyright", kXMP_NS_DC, "rights", 0},
};

constexpr StandardAlias kPdfAliases[] = {
    {kXMP_NS_PDF, "Author", kXMP_NS_DC, "creator", kOrdered},
    {kXMP_NS_PDF, "BaseURL", kXMP_NS_XMP, "BaseURL", 0},
    {kXMP_NS_PDF, "CreationDate", kXMP_NS_XMP, "CreateDate", 0},
    {kXMP_NS_PDF, "Creator", kXMP_NS_XMP, "CreatorTool", 0},
    {kXMP_NS_PDF, "ModDate", kXMP_NS_XMP, "ModifyDate", 0},
    {kXMP_NS_PDF, "Subject", kXMP_NS_DC, "description", kAltText},
    {kXMP_NS_PDF, "Title", kXMP_NS_DC, "title", kAltText},
};

constexpr StandardAlias kPhotoshopAliases[] = {
    {kXMP_NS_Photoshop, "Author", kXMP_NS_DC, "creator", kOrdered},
    {kXMP_NS_Photoshop, "Caption", kXMP_NS_DC, "description", kAltText},
    {kXMP_NS_Photoshop, "Copyright", kXMP_NS_DC, "rights", kAltText},
    {kXMP_NS_Photoshop, "Keywords", kXMP_NS_DC, "subject", 0},
    {kXMP_NS_Photoshop, "Marked", kXMP_NS_XMP_Rights, "Marked", 0},
    {kXMP_NS_Photoshop, "Title", kXMP_NS_DC, "title", kAltText},
    {kXMP_NS_Photoshop, "WebStatement", kXMP_NS_XMP_Rights, "WebStatement", 0},
};

constexpr StandardAlias kTiffAliases[] = {
    {kXMP_NS_TIFF, "Artist", kXMP_NS_DC, "creator", kOrdered},
    {kXMP_NS_TIFF, "Copyright", kXMP_NS_DC, "rights", 0},
    {kXMP_NS_TIFF, "DateTime", kXMP_NS_XMP, "ModifyDate", 0},
    {kXMP_NS_TIFF, "ImageDescription", kXMP_NS_DC, "description", 0},
    {kXMP_NS_TIFF, "Software", kXMP_NS_XMP, "CreatorTool", 0},
};

constexpr StandardAlias kPngAliases[] = {
    {kXMP_NS_PNG, "Author", kXMP_NS_DC, "creator", kOrdered},
    {kXMP_NS_PNG, "Copyright", kXMP_NS_DC, "rights", kAltText},
    {kXMP_NS_PNG, "CreationTime", kXMP_NS_XMP, "CreateDate", 0},
    {kXMP_NS_PNG, "Description", kXMP_NS_DC, "description", kAltText},
    {kXMP_NS_PNG, "ModificationTime", kXMP_NS_XMP, "ModifyDate", 0},
    {kXMP_NS_PNG, "Software", kXMP_NS_XMP, "CreatorTool", 0},
    {kXMP_NS_PNG, "Title", kXMP_NS_DC, "title", kAltText},
};

template <size_t N>
void DefineGroup(const StandardAlias (&group)[N]) {
  for (const StandardAlias& alias : group) {
    XMPMeta::DefineAlias(alias.aliasNS, alias.aliasName, alias.actualNS, alias.actualName, alias.arrayForm);
  }
}

}  // namespace

void XMPMeta::DefineStandardAliases(XMP_StringPtr schemaNS) {
  const std::string_view ns(schemaNS == nullptr ? "" : schemaNS);
  if (ns.empty()) {
    DefineGroup(kXmpAliases);
    DefineGroup(kPdfAliases);
    DefineGroup(kPhotoshopAliases);
    DefineGroup(kTiffAliases);
    DefineGroup(kPngAliases);
  } else if (ns == kXMP_NS_XMP) {
    DefineGroup(kXmpAliases);
  } else if (ns == kXMP_NS_PDF) {
    DefineGroup(kPdfAliases);
  } else if (ns == kXMP_NS_Photoshop) {
    DefineGroup(kPhotoshopAliases);
  } else if (ns == kXMP_NS_TIFF || ns == kXMP_NS_EXIF) {
    DefineGroup(kTiffAliases);
  } else if (ns == kXMP_NS_PNG) {
    DefineGroup(kPngAliases);
  }
}
