#include "xmp/expat_adapter.h"

#include <expat.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "xmp/allocation_hooks.h"
#include "xmp/xmp_error.h"
#include "xmp/xmp_limits.h"
#include "xmp/xmp_meta.h"

namespace {

constexpr const char kRdfNamespace[] = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";

// Ignored events: namespace end, CDATA section bounds, comments.
void OnIgnoredEnd(void*, const char*) {}
void OnIgnoredEvent(void*) {}
void OnIgnoredComment(void*, const char*) {}

// Appends a new node to `list`, which owns it from then on.
XML_Node* AppendNode(std::vector<XML_Node*>* list, XML_Node* parent, const char* name, int32_t kind) {
  std::unique_ptr<XML_Node> node(new XML_Node(parent, name, kind));
  list->push_back(node.get());
  return node.release();
}

// Expat takes its memory through the program's allocation hooks, as the
// rest of the toolkit does. Each block keeps its size in front of it, for
// realloc.
constexpr size_t kExpatBlockHeader = alignof(std::max_align_t);

// Allocations refused to Expat so far. Expat does not report every one of
// them as running out of memory (some come back as other errors), so a
// parse that fails after one has been refused failed for lack of memory.
thread_local uint64_t sExpatRefusals = 0;

void* ExpatMalloc(size_t size) {
  auto* raw = size <= SIZE_MAX - kExpatBlockHeader
                  ? static_cast<unsigned char*>(AllocateHook(size + kExpatBlockHeader))
                  : nullptr;
  if (raw == nullptr) {
    ++sExpatRefusals;
    return nullptr;
  }
  std::memcpy(raw, &size, sizeof size);
  return raw + kExpatBlockHeader;
}

void ExpatFree(void* block) {
  if (block != nullptr) FreeHook(static_cast<unsigned char*>(block) - kExpatBlockHeader);
}

// On failure the old block stays as it was, as realloc leaves it.
void* ExpatRealloc(void* block, size_t size) {
  if (block == nullptr) return ExpatMalloc(size);
  size_t old_size;
  std::memcpy(&old_size, static_cast<unsigned char*>(block) - kExpatBlockHeader, sizeof old_size);
  void* fresh = ExpatMalloc(size);
  if (fresh == nullptr) return nullptr;
  std::memcpy(fresh, block, std::min(old_size, size));
  ExpatFree(block);
  return fresh;
}

const XML_Memory_Handling_Suite kExpatMemory = {ExpatMalloc, ExpatRealloc, ExpatFree};
constexpr XML_Char kNameSeparator[] = "@";

}  // namespace

ExpatAdapter::ExpatAdapter() {
  parser_ = XML_ParserCreate_MM(nullptr, &kExpatMemory, kNameSeparator);
  // Expat makes no parser only when it has no memory for one.
  if (parser_ == nullptr) throw XMP_BadAlloc();
  XML_SetUserData(parser_, this);
  XML_SetNamespaceDeclHandler(parser_, &ExpatAdapter::OnStartNamespace, &OnIgnoredEnd);
  XML_SetElementHandler(parser_, &ExpatAdapter::OnStartElement, &ExpatAdapter::OnEndElement);
  XML_SetCharacterDataHandler(parser_, &ExpatAdapter::OnCharacterData);
  XML_SetCdataSectionHandler(parser_, &OnIgnoredEvent, &OnIgnoredEvent);
  XML_SetProcessingInstructionHandler(parser_, &ExpatAdapter::OnProcessingInstruction);
  XML_SetCommentHandler(parser_, &OnIgnoredComment);
}

ExpatAdapter::~ExpatAdapter() {
  if (parser_ != nullptr) XML_ParserFree(parser_);
}

void ExpatAdapter::DeclareUtf8Input() { XML_SetEncoding(parser_, "UTF-8"); }

void ExpatAdapter::ParseChunk(const void* text, size_t length, bool last) {
  // Expat takes an int length; feed larger pieces in slices.
  const char* p = static_cast<const char*>(text);
  const uint64_t refusals = sExpatRefusals;
  do {
    size_t piece = length > (1u << 30) ? (1u << 30) : length;
    bool final = last && piece == length;
    XML_Status status = XML_Parse(parser_, p, static_cast<int>(piece), final ? 1 : 0);
    if (failure_) std::rethrow_exception(failure_);
    if (status != XML_STATUS_OK) {
      // Running out of memory is no fault of the packet.
      if (XML_GetErrorCode(parser_) == XML_ERROR_NO_MEMORY || sExpatRefusals != refusals) throw XMP_BadAlloc();
      XMP_Throw(kXMPErr_BadXML, "XML parsing failure");
    }
    p += piece;
    length -= piece;
  } while (length > 0);
}

void ExpatAdapter::Fail() {
  if (!failure_) failure_ = std::current_exception();
  XML_StopParser(parser_, XML_FALSE);
}

void ExpatAdapter::CountNode() {
  if (++nodeCount > xmp_limits::kMaxXmlNodes) XMP_Throw(kXMPErr_BadXML, "XML parsing failure");
}

void ExpatAdapter::SplitExpatName(const char* fullName, XML_Node* node) {
  const char* at = strrchr(fullName, '@');
  if (at != nullptr) {
    node->ns.assign(fullName, static_cast<size_t>(at - fullName));
    XMP_StringPtr prefix = nullptr;
    XMP_StringLen prefixLen = 0;
    if (!XMPMeta::LookupNamespacePrefix(node->ns.c_str(), &prefix, &prefixLen)) {
      XMP_Throw(kXMPErr_ExternalFailure, "Unknown URI in Expat full name");
    }
    node->name.assign(prefix, prefixLen);
    node->name += at + 1;
    return;
  }
  node->name = fullName;
  if (node->parent != nullptr && node->parent->name == "rdf:Description" &&
      (node->name == "about" || node->name == "ID")) {
    node->ns = kRdfNamespace;
    node->name.insert(0, "rdf:");
  }
}

void ExpatAdapter::OnStartNamespace(void* userData, const char* prefix, const char* uri) {
  auto* self = static_cast<ExpatAdapter*>(userData);
  if (self->failure_) return;
  try {
    if (prefix == nullptr) prefix = "_dflt_";
    XMP_StringPtr registered = nullptr;
    XMP_StringLen length = 0;
    if (uri != nullptr) XMPMeta::DefineNamespace(uri, prefix, &registered, &length);
  } catch (...) {
    self->Fail();
  }
}

void ExpatAdapter::OnStartElement(void* userData, const char* name, const char** attrs) {
  auto* self = static_cast<ExpatAdapter*>(userData);
  if (self->failure_) return;
  try {
    size_t count = 0;
    while (attrs[count] != nullptr) ++count;
    if (count % 2 != 0) XMP_Throw(kXMPErr_ExternalFailure, "Expat attribute info has odd length");
    // The tree root is at the bottom of the stack, so its size is the depth
    // the new element would have.
    if (self->parseStack.size() > xmp_limits::kMaxXmlDepth) XMP_Throw(kXMPErr_BadXML, "XML parsing failure");
    XML_Node* parent = self->parseStack.back();
    self->CountNode();
    XML_Node* elem = AppendNode(&parent->content, parent, "", kElemNode);
    SplitExpatName(name, elem);
    for (size_t i = 0; i < count; i += 2) {
      self->CountNode();
      XML_Node* attr = AppendNode(&elem->attrs, elem, "", kAttrNode);
      SplitExpatName(attrs[i], attr);
      attr->value = attrs[i + 1];
      if (attr->name == "xml:lang") CanonicalizeLangTag(&attr->value);
    }
    self->parseStack.push_back(elem);
    if (elem->name == "rdf:RDF" || elem->name == "pxmp:XMP_Packet") {
      self->rootNode = elem;
      ++self->rootCount;
    }
  } catch (...) {
    self->Fail();
  }
}

void ExpatAdapter::OnEndElement(void* userData, const char*) {
  auto* self = static_cast<ExpatAdapter*>(userData);
  if (self->failure_) return;
  if (self->parseStack.size() > 1) self->parseStack.pop_back();
}

void ExpatAdapter::OnCharacterData(void* userData, const char* text, int length) {
  auto* self = static_cast<ExpatAdapter*>(userData);
  if (self->failure_) return;
  try {
    XML_Node* parent = self->parseStack.back();
    self->CountNode();
    XML_Node* node = AppendNode(&parent->content, parent, "", kCDataNode);
    if (text != nullptr && length > 0) node->value.assign(text, static_cast<size_t>(length));
  } catch (...) {
    self->Fail();
  }
}

void ExpatAdapter::OnProcessingInstruction(void* userData, const char* target, const char* data) {
  auto* self = static_cast<ExpatAdapter*>(userData);
  if (self->failure_) return;
  try {
    if (strcmp(target, "xpacket") != 0) return;
    XML_Node* parent = self->parseStack.back();
    self->CountNode();
    XML_Node* node = AppendNode(&parent->content, parent, "xpacket", kPINode);
    if (data != nullptr) node->value = data;
  } catch (...) {
    self->Fail();
  }
}
