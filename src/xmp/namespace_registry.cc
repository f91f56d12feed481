// The namespace registry: URI <-> prefix, with generated prefixes for
// clashes.
#include "xmp/namespace_registry.h"

#include <cstdio>

#include "xmp/xmp_error.h"
#include "xmp/xmp_meta.h"

XMP_StringMap* sURIToPrefixMap = nullptr;
XMP_StringMap* sNamespacePrefixToURIMap = nullptr;
XMP_AliasMap* sAliasMap = nullptr;

namespace {

// Per base prefix (without its colon), the N from which the search for a
// free generated prefix "base_N_:" resumes. Prefixes are never removed
// while the registries live, so every smaller N is known to be taken and
// the first free one is still found; a packet declaring thousands of
// namespaces under one prefix then costs one look-up each, not one per
// earlier declaration.
std::map<std::string, int, std::less<>>* sNextGeneratedPrefix = nullptr;

}  // namespace

void CreateRegistries() {
  DeleteRegistries();
  sURIToPrefixMap = new XMP_StringMap;
  sNamespacePrefixToURIMap = new XMP_StringMap;
  sAliasMap = new XMP_AliasMap;
  sNextGeneratedPrefix = new std::map<std::string, int, std::less<>>;
}

void DeleteRegistries() {
  delete sURIToPrefixMap;
  sURIToPrefixMap = nullptr;
  delete sNamespacePrefixToURIMap;
  sNamespacePrefixToURIMap = nullptr;
  delete sAliasMap;
  sAliasMap = nullptr;
  delete sNextGeneratedPrefix;
  sNextGeneratedPrefix = nullptr;
}

void RegisterStandardNamespaces() {
  for (const StandardNamespace& ns : kStandardNamespaces) {
    XMP_StringPtr prefix;
    XMP_StringLen length;
    XMPMeta::DefineNamespace(ns.uri, ns.prefix, &prefix, &length);
  }
}

const std::string* FindPrefixForURI(std::string_view namespaceURI) {
  if (sURIToPrefixMap == nullptr) return nullptr;
  const auto found = sURIToPrefixMap->find(namespaceURI);
  return found == sURIToPrefixMap->end() ? nullptr : &found->second;
}

const std::string* FindURIForPrefix(std::string_view prefixWithColon) {
  if (sNamespacePrefixToURIMap == nullptr) return nullptr;
  const auto found = sNamespacePrefixToURIMap->find(prefixWithColon);
  return found == sNamespacePrefixToURIMap->end() ? nullptr : &found->second;
}

bool IsRegisteredAlias(std::string_view qualifiedName) {
  return sAliasMap != nullptr && sAliasMap->find(qualifiedName) != sAliasMap->end();
}

bool XMPMeta::DefineNamespace(XMP_StringPtr namespaceURI, XMP_StringPtr suggestedPrefix,
                              XMP_StringPtr* registeredPrefix, XMP_StringLen* prefixSize) {
  if (namespaceURI == nullptr || *namespaceURI == 0 || suggestedPrefix == nullptr || *suggestedPrefix == 0) {
    XMP_Throw(kXMPErr_BadParam, "Empty namespace URI or prefix");
  }
  std::string prefix(suggestedPrefix);
  if (prefix.back() != ':') prefix += ':';
  CheckXmlName(std::string_view(prefix).substr(0, prefix.size() - 1));

  const std::string_view uri(namespaceURI);
  auto found = sURIToPrefixMap->find(uri);
  if (found == sURIToPrefixMap->end()) {
    std::string chosen = prefix;
    if (sNamespacePrefixToURIMap->count(chosen) != 0) {
      const std::string base = prefix.substr(0, prefix.size() - 1);
      int& next = (*sNextGeneratedPrefix)[base];
      if (next < 1) next = 1;
      char suffix[32];
      for (;; ++next) {
        snprintf(suffix, sizeof suffix, "_%d_:", next);
        chosen = base + suffix;
        if (sNamespacePrefixToURIMap->count(chosen) == 0) break;
      }
      ++next;
    }
    found = sURIToPrefixMap->emplace(std::string(uri), chosen).first;
    try {
      sNamespacePrefixToURIMap->emplace(chosen, std::string(uri));
    } catch (...) {
      sURIToPrefixMap->erase(found);  // the two maps always hold the same pairs
      throw;
    }
  }
  *registeredPrefix = found->second.c_str();
  *prefixSize = static_cast<XMP_StringLen>(found->second.size());
  return found->second == prefix;
}

bool XMPMeta::LookupNamespacePrefix(XMP_StringPtr namespaceURI, XMP_StringPtr* namespacePrefix,
                                    XMP_StringLen* prefixSize) {
  const std::string* prefix = FindPrefixForURI(namespaceURI == nullptr ? "" : namespaceURI);
  if (prefix == nullptr) return false;
  *namespacePrefix = prefix->c_str();
  *prefixSize = static_cast<XMP_StringLen>(prefix->size());
  return true;
}
