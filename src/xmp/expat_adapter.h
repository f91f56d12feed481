// ExpatAdapter: the packet parser's XML element tree built by the Expat
// library. This is the only file pair that talks to Expat.
#pragma once

#include <exception>

#include "xmp/xml_parser_adapter.h"

struct XML_ParserStruct;

// Owns one Expat parser. Exceptions never pass through Expat's frames: a
// handler that fails keeps its exception, stops the parser and returns, and
// ParseChunk throws the kept exception once Expat has returned.
class ExpatAdapter : public XMLParserAdapter {
 public:
  // Expat's memory comes through AllocateHook and FreeHook. Running out of
  // it (no parser, or Expat's out-of-memory error) throws std::bad_alloc.
  ExpatAdapter();
  ~ExpatAdapter() override;

  void DeclareUtf8Input() override;

  void ParseChunk(const void* text, size_t length, bool last) override;

  // Names `node` from Expat's "URI@local" form with the registered prefix.
  static void SplitExpatName(const char* fullName, XML_Node* node);

  static void OnStartNamespace(void* userData, const char* prefix, const char* uri);
  static void OnStartElement(void* userData, const char* name, const char** attrs);
  static void OnEndElement(void* userData, const char* name);
  static void OnCharacterData(void* userData, const char* text, int length);
  static void OnProcessingInstruction(void* userData, const char* target, const char* data);

 private:
  // Counts one more node of the tree; too many fail the parse.
  void CountNode();
  void Fail();

  XML_ParserStruct* parser_ = nullptr;
  std::exception_ptr failure_;
};
