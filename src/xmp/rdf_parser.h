// The RDF grammar: turns the XML element tree below rdf:RDF into the
// metadata tree of XMP_Nodes.
#pragma once

#include "xmp/xml_node.h"

class XMP_Node;

// Reads the node elements below `rdfRoot` into `treeRoot`. Throws 202 for
// RDF that breaks the grammar and 203 for RDF that XMP does not allow.
void ConvertRdf(XMP_Node* treeRoot, const XML_Node& rdfRoot);
