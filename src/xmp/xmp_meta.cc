// Construction and destruction of metadata objects.
#include "xmp/xmp_meta.h"

#include "xmp/xml_parser_adapter.h"

XMPMeta::XMPMeta() : tree(nullptr, "", 0) {}

XMPMeta::~XMPMeta() {
  delete xmlParser;
  xmlParser = nullptr;
}
