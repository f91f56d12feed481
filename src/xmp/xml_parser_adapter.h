// The packet parser's state kept by a metadata object between the buffers
// of one multi-buffer parse.
#pragma once

class XMLParserAdapter {
 public:
  XMLParserAdapter() = default;
  XMLParserAdapter(const XMLParserAdapter&) = delete;
  XMLParserAdapter& operator=(const XMLParserAdapter&) = delete;
  virtual ~XMLParserAdapter() = default;
};
