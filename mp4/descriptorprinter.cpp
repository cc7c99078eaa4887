// The descriptor printer and the byte dump.
#include "descriptorprinter.h"

#include "filestream.h"

namespace fileutil {

static void PutHexDigits(std::wostream& out, uint32_t value, int digits) {
  static const wchar_t hex[] = L"0123456789abcdef";
  for (int i = digits - 1; i >= 0; --i) out.put(hex[(value >> (4 * i)) & 15]);
}

void PrintBytes(std::wostream& out, const std::vector<uint8_t>& bytes, uint32_t indent) {
  InputMemoryStream in(bytes);
  const std::wstring lead(indent + 1, L' ');
  out << L"\r\n";
  out << lead << L"     ";
  for (int c = 0; c < 16; ++c) {
    out << L"  ";
    PutHexDigits(out, uint32_t(c), 1);
  }
  out << L" | ";
  for (int c = 0; c < 16; ++c) PutHexDigits(out, uint32_t(c), 1);
  out << L"\r\n" << lead << std::wstring(54, L'_') << L'|' << std::wstring(17, L'_') << L"\r\n";
  uint32_t offset = 0;
  while (true) {
    uint8_t row[16];
    int n = 0;
    for (; n < 16; ++n) {
      int c = in.get();
      if (c == std::char_traits<char>::eof()) break;
      row[n] = uint8_t(c);
    }
    if (n == 0) break;
    out << lead;
    PutHexDigits(out, offset, 4);
    out << L": ";
    for (int c = 0; c < 16; ++c) {
      if (c < n) {
        PutHexDigits(out, row[c], 2);
        out << L' ';
      } else {
        out << L"   ";
      }
    }
    out << L"| ";
    for (int c = 0; c < 16; ++c) out.put(c < n ? (row[c] >= 0x20 && row[c] < 0x7F ? wchar_t(row[c]) : L'.') : L' ');
    out << L"\r\n";
    offset += uint32_t(n);
    if (n < 16) break;
  }
}

}  // namespace fileutil

namespace esds {

static const wchar_t* ElementName(uint8_t tag) {
  switch (tag) {
    case kTagElementaryStream: return L"ElementaryStream";
    case kTagDecoderConfig: return L"DecoderConfigDescriptor";
    case kTagDecoderSpecificInfo: return L"DecoderSpecificInfo";
    case kTagSLConfig: return L"SLConfigDescriptor";
    default: return L"UnknownDescriptor";
  }
}

void DescriptorPrinter::Line(const std::wstring& text) { out_ << std::wstring(depth_, L' ') << text << L"\n"; }

void DescriptorPrinter::Open(const Descriptor& d) {
  static const wchar_t hex[] = L"0123456789abcdef";
  std::wstring tag;
  tag += hex[d.tag >> 4];
  tag += hex[d.tag & 15];
  Line(std::wstring(L"<") + ElementName(d.tag) + L" tag='0x" + tag + L"'>");
  ++depth_;
  Field(L"size", d.size);
}

void DescriptorPrinter::Close(const Descriptor& d) {
  --depth_;
  Line(std::wstring(L"</") + ElementName(d.tag) + L">");
}

void DescriptorPrinter::Field(const wchar_t* name, uint64_t value) { Field(name, std::to_wstring(value)); }

void DescriptorPrinter::Field(const wchar_t* name, const std::wstring& value) {
  Line(std::wstring(L"<") + name + L">" + value + L"</" + name + L">");
}

void DescriptorPrinter::Block(const wchar_t* name, const std::vector<uint8_t>& bytes) {
  Line(std::wstring(L"<") + name + L">");
  ++depth_;
  fileutil::PrintBytes(out_, bytes, depth_);
  --depth_;
  Line(std::wstring(L"</") + name + L">");
}

void DescriptorPrinter::Visit(ESIDIncDescriptor& d) {
  Open(d);
  Field(L"TrackId", d.trackId);
  Close(d);
}

void DescriptorPrinter::Visit(InitialObjectDescriptor& d) {
  Open(d);
  Field(L"Flags", d.idAndFlags);
  Field(L"ODProfileAndLevel", d.profileLevels[0]);
  Field(L"sceneProfileAndLevel", d.profileLevels[1]);
  Field(L"audioProfileAndLevel", d.profileLevels[2]);
  Field(L"visualProfileAndLevel", d.profileLevels[3]);
  Field(L"graphicsProfileAndLevel", d.profileLevels[4]);
  Close(d);
}

void DescriptorPrinter::Visit(SLConfigDescriptor& d) {
  Open(d);
  Field(L"PreDefined", d.predefined);
  if (d.predefined == 0) {
    Field(L"UseAccessUnitStartFlag", d.useAccessUnitStartFlag);
    Field(L"UseAccessUnitEndFlag", d.useAccessUnitEndFlag);
    Field(L"UseRandomAccessPointFlag", d.useRandomAccessPointFlag);
    Field(L"UseRandomAccessUnitsOnlyFlag", d.hasRandomAccessUnitsOnlyFlag);
    Field(L"UsePaddingFlag", d.usePaddingFlag);
    Field(L"UseTimestampsFlag", d.useTimeStampsFlag);
    Field(L"UseIdleFlag", d.useIdleFlag);
    Field(L"DurationFlag", d.durationFlag);
    Field(L"TimestampResolution", d.timeStampResolution);
    Field(L"OcrResolution", d.ocrResolution);
    Field(L"TimestampLength", d.timeStampLength);
    Field(L"OcrLength", d.ocrLength);
    Field(L"AuLength", d.auLength);
    Field(L"InstantBitrateLength", d.instantBitrateLength);
    Field(L"DegradationPriorityLength", d.degradationPriorityLength);
    Field(L"AuSeqNumLength", d.auSeqNumLength);
    Field(L"packetSeqNumLength", d.packetSeqNumLength);
    if (d.durationFlag) {
      Field(L"TimeScale", d.timeScale);
      Field(L"AuDuration", d.accessUnitDuration);
      Field(L"CuDuration", d.compositionUnitDuration);
    }
    if (!d.useTimeStampsFlag) Block(L"TimestampBuffer", d.timeStampBuffer);
  }
  Close(d);
}

void DescriptorPrinter::Visit(DecoderSpecificInfo& d) {
  Open(d);
  Block(L"content", d.bytes);
  Close(d);
}

void DescriptorPrinter::Visit(DecoderConfigDescriptor& d) {
  Open(d);
  Field(L"ObjectTypeIndication", d.objectTypeIndication);
  Field(L"UpStream", d.upStream);
  Field(L"StreamType", d.streamType);
  Field(L"Reserved", d.reserved);
  Field(L"BufferSizeDB", d.GetBufferSizeDB());
  Field(L"MaxBitrate", d.maxBitrate);
  Field(L"AvgBitrate", d.avgBitrate);
  if (d.decoderSpecificInfo) d.decoderSpecificInfo->Accept(*this);
  Close(d);
}

void DescriptorPrinter::Visit(ElementaryStreamDescriptor& d) {
  Open(d);
  Field(L"ESID", d.esId);
  Field(L"StreamDependencyFlag", d.StreamDependenceFlag() ? 1 : 0);
  if (d.StreamDependenceFlag()) Field(L"dependsOnESID", d.dependsOnEsId);
  Field(L"URL_flag", d.UrlFlag() ? 1 : 0);
  if (d.UrlFlag()) {
    Field(L"URL_length", d.url.size());
    Field(L"URL_string", std::wstring(d.url.begin(), d.url.end()));
  }
  Field(L"OCR_flag", d.OcrStreamFlag() ? 1 : 0);
  if (d.OcrStreamFlag()) Field(L"OCR_ESID", d.ocrEsId);
  for (Descriptor* child : d.children) child->Accept(*this);
  Close(d);
}

void DescriptorPrinter::Visit(UnknownDescriptor& d) {
  Open(d);
  Line(L"<UNKNOWN/>");
  Block(L"content", d.payload);
  Close(d);
}

}  // namespace esds
