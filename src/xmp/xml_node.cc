#include "xmp/xml_node.h"

XML_Node::~XML_Node() {
  ClearAttrNodes();
  ClearContentNodes();
}

void XML_Node::ClearAttrNodes() {
  for (XML_Node* n : attrs) delete n;
  attrs.clear();
}

void XML_Node::ClearContentNodes() {
  for (XML_Node* n : content) delete n;
  content.clear();
}
