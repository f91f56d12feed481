// XML_Node: one node of the small element tree that the packet parser builds
// from the XML text before the RDF grammar reads it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum XML_NodeKind : int32_t {
  kRootNode = 0,
  kElemNode = 1,
  kAttrNode = 2,
  kCDataNode = 3,
  kPINode = 4,
};

// Owns its attribute and content nodes. The packet parser caps the element
// depth, so destruction and every walk over the tree recurse a bounded amount.
class XML_Node {
 public:
  XML_Node(XML_Node* parent, const char* name, int32_t kind)
      : kind(kind), name(name), parent(parent) {}
  XML_Node(const XML_Node&) = delete;
  XML_Node& operator=(const XML_Node&) = delete;
  virtual ~XML_Node();

  void ClearAttrNodes();
  void ClearContentNodes();

  // Qualified name with the registered prefix equals `qname`.
  bool IsNamed(const char* qname) const { return name == qname; }

  int32_t kind;
  std::string ns;  // namespace URI; empty when none
  std::string name;
  std::string value;
  XML_Node* parent;
  std::vector<XML_Node*> attrs;
  std::vector<XML_Node*> content;
};
