#include "xmp/rdf_parser.h"

#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "xmp/xmp_error.h"
#include "xmp/xmp_meta.h"
#include "xmp/xmp_node.h"
#include "xmp/namespace_registry.h"
#include "xmp/node_locate.h"

namespace {

enum RDFTermKind {
  kRDFTerm_Other = 0,
  kRDFTerm_RDF = 1,
  kRDFTerm_ID = 2,
  kRDFTerm_about = 3,
  kRDFTerm_parseType = 4,
  kRDFTerm_resource = 5,
  kRDFTerm_nodeID = 6,
  kRDFTerm_datatype = 7,
  kRDFTerm_Description = 8,
  kRDFTerm_li = 9,
  kRDFTerm_aboutEach = 10,
  kRDFTerm_aboutEachPrefix = 11,
  kRDFTerm_bagID = 12,
};

struct RdfTerm {
  const char* name;
  RDFTermKind kind;
};

constexpr RdfTerm kRdfTerms[] = {
    {"RDF", kRDFTerm_RDF},
    {"ID", kRDFTerm_ID},
    {"about", kRDFTerm_about},
    {"parseType", kRDFTerm_parseType},
    {"resource", kRDFTerm_resource},
    {"nodeID", kRDFTerm_nodeID},
    {"datatype", kRDFTerm_datatype},
    {"Description", kRDFTerm_Description},
    {"li", kRDFTerm_li},
    {"aboutEach", kRDFTerm_aboutEach},
    {"aboutEachPrefix", kRDFTerm_aboutEachPrefix},
    {"bagID", kRDFTerm_bagID},
};

RDFTermKind ClassifyRdfTerm(const std::string& name) {
  if (name.size() <= 4 || name.compare(0, 4, "rdf:") != 0) return kRDFTerm_Other;
  const char* local = name.c_str() + 4;
  for (const RdfTerm& term : kRdfTerms) {
    if (strcmp(local, term.name) == 0) return term.kind;
  }
  return kRDFTerm_Other;
}

bool IsWhitespaceText(const XML_Node& node) {
  if (node.kind != kCDataNode) return false;
  for (char c : node.value) {
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return false;
  }
  return true;
}

// Lifetime: one ConvertRdf call. Names of the children read so far per
// schema or struct node, and schema nodes per namespace URI, so that a
// packet with very many properties is read in linear time.
class RdfReader {
 public:
  explicit RdfReader(XMP_Node* treeRoot) : treeRoot_(treeRoot) {}

  void ReadNodeElementList(XMP_Node* parent, const XML_Node& xmlParent, bool topLevel);
  void ReadNodeElement(XMP_Node* parent, const XML_Node& xmlNode, bool topLevel);
  void ReadNodeElementAttributes(XMP_Node* parent, const XML_Node& xmlNode, bool topLevel);
  void ReadPropertyElementList(XMP_Node* parent, const XML_Node& xmlParent, bool topLevel);
  void ReadPropertyElement(XMP_Node* parent, const XML_Node& xmlNode, bool topLevel);
  void ReadResourcePropertyElement(XMP_Node* parent, const XML_Node& xmlNode, bool topLevel);
  void ReadLiteralPropertyElement(XMP_Node* parent, const XML_Node& xmlNode, bool topLevel);
  void ReadParseTypeResourceElement(XMP_Node* parent, const XML_Node& xmlNode, bool topLevel);
  void ReadEmptyPropertyElement(XMP_Node* parent, const XML_Node& xmlNode, bool topLevel);

  XMP_Node* AddPropertyNode(const XML_Node& xmlNode, XMP_Node* parent, const std::string& value, bool topLevel);
  void PromoteRdfValue(XMP_Node* node);

 private:
  XMP_Node* SchemaFor(const XML_Node& xmlNode);

  XMP_Node* treeRoot_;
  std::unordered_map<std::string, XMP_Node*> schemas_;
  std::unordered_map<const XMP_Node*, std::unordered_set<std::string_view>> childNames_;
};

XMP_Node* Append(XMP_NodeList* list, XMP_NodeOwner node) {
  list->push_back(std::move(node));
  return list->back().get();
}

XMP_Node* Insert(XMP_NodeList* list, size_t at, XMP_NodeOwner node) {
  return list->insert(list->begin() + static_cast<std::ptrdiff_t>(at), std::move(node))->get();
}

XMP_Node* AddQualifier(XMP_Node* parent, const std::string& name, const std::string& value) {
  auto qual = std::make_unique<XMP_Node>(parent, name, value, kXMP_PropIsQualifier);
  XMP_Node* result;
  XMP_NodeList& quals = parent->qualifiers;
  if (quals.empty()) {
    result = Append(&quals, std::move(qual));
  } else if (name == "xml:lang") {
    result = Insert(&quals, 0, std::move(qual));
  } else if (name == "rdf:type") {
    result = Insert(&quals, (parent->options & kXMP_PropHasLang) ? 1 : 0, std::move(qual));
  } else {
    result = Append(&quals, std::move(qual));
  }
  if (name == "xml:lang") parent->options |= kXMP_PropHasLang;
  if (name == "rdf:type") parent->options |= kXMP_PropHasType;
  parent->options |= kXMP_PropHasQualifiers;
  return result;
}

void AddAttributeQualifier(const XML_Node& attr, XMP_Node* parent) {
  if (attr.ns.empty()) XMP_Throw(kXMPErr_BadRDF, "XML namespace required for all elements and attributes");
  AddQualifier(parent, attr.name, attr.value);
}

void RdfReader::ReadNodeElementList(XMP_Node* parent, const XML_Node& xmlParent, bool topLevel) {
  for (const XML_Node* node : xmlParent.content) {
    if (IsWhitespaceText(*node)) continue;
    ReadNodeElement(parent, *node, topLevel);
  }
}

void RdfReader::ReadNodeElement(XMP_Node* parent, const XML_Node& xmlNode, bool topLevel) {
  RDFTermKind kind = ClassifyRdfTerm(xmlNode.name);
  if (kind != kRDFTerm_Description && kind != kRDFTerm_Other) {
    XMP_Throw(kXMPErr_BadRDF, "Node element must be rdf:Description or typedNode");
  }
  if (topLevel && kind == kRDFTerm_Other) XMP_Throw(kXMPErr_BadXMP, "Top level typedNode not allowed");
  ReadNodeElementAttributes(parent, xmlNode, topLevel);
  ReadPropertyElementList(parent, xmlNode, topLevel);
}

void RdfReader::ReadNodeElementAttributes(XMP_Node* parent, const XML_Node& xmlNode, bool topLevel) {
  bool seenIdentity = false;
  for (const XML_Node* attr : xmlNode.attrs) {
    RDFTermKind kind = ClassifyRdfTerm(attr->name);
    switch (kind) {
      case kRDFTerm_ID:
      case kRDFTerm_about:
      case kRDFTerm_nodeID:
        if (seenIdentity) XMP_Throw(kXMPErr_BadRDF, "Mutally exclusive about, ID, nodeID attributes");
        seenIdentity = true;
        if (topLevel && kind == kRDFTerm_about) {
          if (treeRoot_->name.empty()) {
            treeRoot_->name = attr->value;
          } else if (attr->value != treeRoot_->name) {
            XMP_Throw(kXMPErr_BadXMP, "Mismatched top level rdf:about values");
          }
        }
        break;
      case kRDFTerm_Other:
        AddPropertyNode(*attr, parent, attr->value, topLevel);
        break;
      default:
        XMP_Throw(kXMPErr_BadRDF, "Invalid nodeElement attribute");
    }
  }
}

void RdfReader::ReadPropertyElementList(XMP_Node* parent, const XML_Node& xmlParent, bool topLevel) {
  for (const XML_Node* node : xmlParent.content) {
    if (IsWhitespaceText(*node)) continue;
    if (node->kind != kElemNode) XMP_Throw(kXMPErr_BadRDF, "Expected property element node not found");
    ReadPropertyElement(parent, *node, topLevel);
  }
}

void RdfReader::ReadPropertyElement(XMP_Node* parent, const XML_Node& xmlNode, bool topLevel) {
  RDFTermKind kind = ClassifyRdfTerm(xmlNode.name);
  if (kind != kRDFTerm_Other && kind != kRDFTerm_li) {
    XMP_Throw(kXMPErr_BadRDF, "Invalid property element name");
  }
  if (xmlNode.attrs.size() > 3) {
    ReadEmptyPropertyElement(parent, xmlNode, topLevel);
    return;
  }
  const XML_Node* first = nullptr;
  for (const XML_Node* attr : xmlNode.attrs) {
    if (attr->name != "xml:lang" && attr->name != "rdf:ID") {
      first = attr;
      break;
    }
  }
  if (first == nullptr) {
    if (xmlNode.content.empty()) {
      ReadEmptyPropertyElement(parent, xmlNode, topLevel);
      return;
    }
    for (const XML_Node* child : xmlNode.content) {
      if (child->kind != kCDataNode) {
        ReadResourcePropertyElement(parent, xmlNode, topLevel);
        return;
      }
    }
    ReadLiteralPropertyElement(parent, xmlNode, topLevel);
    return;
  }
  if (first->name == "rdf:datatype") {
    ReadLiteralPropertyElement(parent, xmlNode, topLevel);
  } else if (first->name == "rdf:parseType") {
    const std::string& type = first->value;
    if (type == "Literal") XMP_Throw(kXMPErr_BadXMP, "ParseTypeLiteral property element not allowed");
    if (type == "Collection") XMP_Throw(kXMPErr_BadXMP, "ParseTypeCollection property element not allowed");
    if (type != "Resource") XMP_Throw(kXMPErr_BadXMP, "ParseTypeOther property element not allowed");
    ReadParseTypeResourceElement(parent, xmlNode, topLevel);
  } else {
    ReadEmptyPropertyElement(parent, xmlNode, topLevel);
  }
}

void RdfReader::ReadResourcePropertyElement(XMP_Node* parent, const XML_Node& xmlNode, bool topLevel) {
  if (topLevel && xmlNode.name == "iX:changes") return;
  XMP_Node* node = AddPropertyNode(xmlNode, parent, std::string(), topLevel);
  for (const XML_Node* attr : xmlNode.attrs) {
    if (attr->name == "xml:lang") {
      AddAttributeQualifier(*attr, node);
    } else if (attr->name != "rdf:ID") {
      XMP_Throw(kXMPErr_BadRDF, "Invalid attribute for resource property element");
    }
  }
  size_t i = 0;
  const std::vector<XML_Node*>& content = xmlNode.content;
  while (i < content.size() && IsWhitespaceText(*content[i])) ++i;
  if (i == content.size()) XMP_Throw(kXMPErr_BadRDF, "Missing child of resource property element");
  const XML_Node& value = *content[i];
  if (value.kind != kElemNode) XMP_Throw(kXMPErr_BadRDF, "Children of resource property element must be XML elements");
  if (value.name == "rdf:Bag") {
    node->options |= kXMP_PropValueIsArray;
  } else if (value.name == "rdf:Seq") {
    node->options |= kXMP_PropValueIsArray | kXMP_PropArrayIsOrdered;
  } else if (value.name == "rdf:Alt") {
    node->options |= kXMP_PropValueIsArray | kXMP_PropArrayIsOrdered | kXMP_PropArrayIsAlternate;
  } else {
    node->options |= kXMP_PropValueIsStruct;
    if (value.name != "rdf:Description") {
      size_t colon = value.name.find(':');
      if (colon == std::string::npos) XMP_Throw(kXMPErr_BadXMP, "All XML elements must be in a namespace");
      AddQualifier(node, "rdf:type", value.ns + value.name.substr(colon));
    }
  }
  ReadNodeElement(node, value, false);
  if (node->options & kRDF_HasValueElem) {
    PromoteRdfValue(node);
  } else if (node->options & kXMP_PropArrayIsAlternate) {
    MarkAltTextArray(node);
  }
  for (++i; i < content.size(); ++i) {
    if (!IsWhitespaceText(*content[i])) XMP_Throw(kXMPErr_BadRDF, "Invalid child of resource property element");
  }
}

void RdfReader::ReadLiteralPropertyElement(XMP_Node* parent, const XML_Node& xmlNode, bool topLevel) {
  XMP_Node* node = AddPropertyNode(xmlNode, parent, std::string(), topLevel);
  for (const XML_Node* attr : xmlNode.attrs) {
    if (attr->name == "xml:lang") {
      AddAttributeQualifier(*attr, node);
    } else if (attr->name != "rdf:ID" && attr->name != "rdf:datatype") {
      XMP_Throw(kXMPErr_BadRDF, "Invalid attribute for literal property element");
    }
  }
  size_t total = 0;
  for (const XML_Node* child : xmlNode.content) {
    if (child->kind != kCDataNode) XMP_Throw(kXMPErr_BadRDF, "Invalid child of literal property element");
    total += child->value.size();
  }
  node->value.reserve(total);
  for (const XML_Node* child : xmlNode.content) node->value += child->value;
}

void RdfReader::ReadParseTypeResourceElement(XMP_Node* parent, const XML_Node& xmlNode, bool topLevel) {
  XMP_Node* node = AddPropertyNode(xmlNode, parent, std::string(), topLevel);
  node->options |= kXMP_PropValueIsStruct;
  for (const XML_Node* attr : xmlNode.attrs) {
    if (attr->name == "rdf:parseType" || attr->name == "rdf:ID") continue;
    if (attr->name != "xml:lang") XMP_Throw(kXMPErr_BadRDF, "Invalid attribute for ParseTypeResource property element");
    AddAttributeQualifier(*attr, node);
  }
  ReadPropertyElementList(node, xmlNode, false);
  if (node->options & kRDF_HasValueElem) PromoteRdfValue(node);
}

void RdfReader::ReadEmptyPropertyElement(XMP_Node* parent, const XML_Node& xmlNode, bool topLevel) {
  if (!xmlNode.content.empty()) {
    XMP_Throw(kXMPErr_BadRDF, "Nested content not allowed with rdf:resource or property attributes");
  }
  bool hasPropertyAttrs = false;
  bool hasResource = false;
  bool hasNodeID = false;
  bool hasValue = false;
  const XML_Node* valueAttr = nullptr;
  for (const XML_Node* attr : xmlNode.attrs) {
    RDFTermKind kind = ClassifyRdfTerm(attr->name);
    if (kind == kRDFTerm_ID) continue;
    if (kind == kRDFTerm_resource) {
      if (hasNodeID) XMP_Throw(kXMPErr_BadRDF, "Empty property element can't have both rdf:resource and rdf:nodeID");
      if (hasValue) XMP_Throw(kXMPErr_BadXMP, "Empty property element can't have both rdf:value and rdf:resource");
      hasResource = true;
      valueAttr = attr;
    } else if (kind == kRDFTerm_nodeID) {
      if (hasResource) XMP_Throw(kXMPErr_BadRDF, "Empty property element can't have both rdf:resource and rdf:nodeID");
      hasNodeID = true;
    } else if (kind == kRDFTerm_Other) {
      if (attr->name == "rdf:value") {
        if (hasResource) XMP_Throw(kXMPErr_BadXMP, "Empty property element can't have both rdf:value and rdf:resource");
        hasValue = true;
        valueAttr = attr;
      } else if (attr->name != "xml:lang") {
        hasPropertyAttrs = true;
      }
    } else {
      XMP_Throw(kXMPErr_BadRDF, "Unrecognized attribute of empty property element");
    }
  }
  XMP_Node* node = AddPropertyNode(xmlNode, parent, std::string(), topLevel);
  if (valueAttr != nullptr) {
    node->value = valueAttr->value;
    if (!hasValue) node->options |= kXMP_PropValueIsURI;
  } else if (hasPropertyAttrs) {
    node->options |= kXMP_PropValueIsStruct;
  }
  for (const XML_Node* attr : xmlNode.attrs) {
    if (attr == valueAttr) continue;
    RDFTermKind kind = ClassifyRdfTerm(attr->name);
    if (kind == kRDFTerm_ID || kind == kRDFTerm_nodeID) continue;
    if (kind != kRDFTerm_Other) XMP_Throw(kXMPErr_BadRDF, "Unrecognized attribute of empty property element");
    if ((node->options & kXMP_PropValueIsStruct) && attr->name != "xml:lang") {
      AddPropertyNode(*attr, node, attr->value, false);
    } else {
      AddAttributeQualifier(*attr, node);
    }
  }
}

XMP_Node* RdfReader::SchemaFor(const XML_Node& xmlNode) {
  auto found = schemas_.find(xmlNode.ns);
  if (found != schemas_.end()) return found->second;
  XMP_Node* schema = LocateSchemaNode(treeRoot_, xmlNode.ns, true);
  schema->options &= ~kXMP_NewImplicitNode;
  schemas_.emplace(xmlNode.ns, schema);
  return schema;
}

XMP_Node* RdfReader::AddPropertyNode(const XML_Node& xmlNode, XMP_Node* parent, const std::string& value,
                                     bool topLevel) {
  if (xmlNode.ns.empty()) XMP_Throw(kXMPErr_BadRDF, "XML namespace required for all elements and attributes");
  XMP_OptionBits options = 0;
  if (topLevel) {
    parent = SchemaFor(xmlNode);
    if (IsRegisteredAlias(xmlNode.name)) {
      treeRoot_->options |= kXMP_PropHasAliases;
      options = kXMP_PropIsAlias;
    }
  }
  bool isValue = xmlNode.name == "rdf:value";
  bool isItem = xmlNode.name == "rdf:li";
  std::unordered_set<std::string_view>* names = nullptr;
  if (!isValue && !isItem) {
    if (parent->options & (kXMP_SchemaNode | kXMP_PropValueIsStruct)) {
      names = &childNames_[parent];
      if (names->count(xmlNode.name) != 0) XMP_Throw(kXMPErr_BadXMP, "Duplicate property or field node");
    } else {
      // Raises the tree model's error for a parent that takes no named children.
      LocateChildNode(parent, xmlNode.name, false);
    }
  }
  auto owned = std::make_unique<XMP_Node>(parent, xmlNode.name, value, options);
  XMP_Node* node;
  if (isValue && !parent->children.empty()) {
    node = Insert(&parent->children, 0, std::move(owned));
  } else {
    node = Append(&parent->children, std::move(owned));
  }
  if (names != nullptr) names->insert(node->name);
  if (isValue) {
    if (topLevel || !(parent->options & kXMP_PropValueIsStruct)) {
      XMP_Throw(kXMPErr_BadRDF, "Misplaced rdf:value element");
    }
    parent->options |= kRDF_HasValueElem;
  }
  if (isItem) {
    if (!(parent->options & kXMP_PropValueIsArray)) XMP_Throw(kXMPErr_BadRDF, "Misplaced rdf:li element");
    node->name = "[]";
  }
  return node;
}

void RdfReader::PromoteRdfValue(XMP_Node* parent) {
  XMP_Enforce((parent->options & kXMP_PropValueIsStruct) && !parent->children.empty(),
              "(xmpParent->options & kXMP_PropValueIsStruct) && (! xmpParent->children.empty())", "ParseRDF", 552);
  XMP_Enforce(parent->children[0]->name == "rdf:value", "valueNode->name == \"rdf:value\"", "ParseRDF", 555);
  XMP_NodeOwner valueNode = std::move(parent->children[0]);
  parent->children.erase(parent->children.begin());
  childNames_.erase(valueNode.get());
  childNames_.erase(parent);

  XMP_NodeList& quals = parent->qualifiers;
  if (valueNode->options & kXMP_PropHasLang) {
    if (parent->options & kXMP_PropHasLang) XMP_Throw(kXMPErr_BadXMP, "Redundant xml:lang for rdf:value element");
    valueNode->qualifiers[0]->parent = parent;
    quals.insert(quals.begin(), std::move(valueNode->qualifiers[0]));
    valueNode->qualifiers.erase(valueNode->qualifiers.begin());
    parent->options |= kXMP_PropHasLang;
  }
  for (XMP_NodeOwner& qual : valueNode->qualifiers) {
    qual->parent = parent;
    quals.push_back(std::move(qual));
  }
  valueNode->qualifiers.clear();

  XMP_NodeList fields;
  fields.swap(parent->children);
  for (XMP_NodeOwner& field : fields) {
    field->options |= kXMP_PropIsQualifier;
    if (field->name == "xml:lang") {
      if (parent->options & kXMP_PropHasLang) XMP_Throw(kXMPErr_BadXMP, "Redundant xml:lang for rdf:value element");
      quals.insert(quals.begin(), std::move(field));
      parent->options |= kXMP_PropHasLang;
    } else {
      if (field->name == "rdf:type") parent->options |= kXMP_PropHasType;
      quals.push_back(std::move(field));
    }
  }
  if (!quals.empty()) parent->options |= kXMP_PropHasQualifiers;
  parent->options &= ~(kXMP_PropValueIsStruct | kRDF_HasValueElem);
  parent->options |= valueNode->options;
  parent->value.swap(valueNode->value);
  parent->children.swap(valueNode->children);
  for (XMP_NodeOwner& child : parent->children) child->parent = parent;
}

}  // namespace

void ConvertRdf(XMP_Node* treeRoot, const XML_Node& rdfRoot) {
  if (!rdfRoot.attrs.empty()) XMP_Throw(kXMPErr_BadRDF, "Invalid attributes of rdf:RDF element");
  RdfReader reader(treeRoot);
  reader.ReadNodeElementList(treeRoot, rdfRoot, true);
}
