// Diagnostic text forms: an indented XML-like dump of a descriptor tree and a
// hexadecimal dump of a byte block.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "descriptors.h"

namespace fileutil {

// CR LF first; then a heading, a rule and one line per 16 bytes, each line
// indented by indent + 1 blanks and ended with CR LF.
void PrintBytes(std::wostream& out, const std::vector<uint8_t>& bytes, uint32_t indent);

}  // namespace fileutil

namespace esds {

class DescriptorPrinter : public IDescriptorVisitor {
 public:
  DescriptorPrinter(std::wostream& out, uint32_t depth) : out_(out), depth_(depth) {}
  void Visit(ESIDIncDescriptor& d) override;
  void Visit(InitialObjectDescriptor& d) override;
  void Visit(SLConfigDescriptor& d) override;
  void Visit(DecoderSpecificInfo& d) override;
  void Visit(DecoderConfigDescriptor& d) override;
  void Visit(ElementaryStreamDescriptor& d) override;
  void Visit(UnknownDescriptor& d) override;

 private:
  void Open(const Descriptor& d);
  void Close(const Descriptor& d);
  void Line(const std::wstring& text);
  void Field(const wchar_t* name, uint64_t value);
  void Field(const wchar_t* name, const std::wstring& value);
  void Block(const wchar_t* name, const std::vector<uint8_t>& bytes);

  std::wostream& out_;
  uint32_t depth_;
};

}  // namespace esds
