// The iTunes-style item list writer: moov/udta/meta(hdlr 'mdir', ilst) with one
// item per summary text that has an item form and one cover picture.
#pragma once

#include <cstdint>
#include <string>

#include "boxes.h"
#include "metadataset.h"

namespace fileutil {

class PutiTunesMetaData : public BoxVisitor {
 public:
  PutiTunesMetaData(const MetaDataSet& set, BoxList& boxes) : set_(set), boxes_(boxes) {}
  // Lets every top-level box accept the visitor; only moov changes. False when
  // the tree has no moov or memory ran short (the tree then stays valid).
  bool Apply();

  using BoxVisitor::Visit;
  uint32_t Visit(MoovBox& box) override;
  // Item containers walk their children so that their 'data' box is filled.
  uint32_t Visit(ARTItemBox& box) override { return Walk(box); }
  uint32_t Visit(AARTItemBox& box) override { return Walk(box); }
  uint32_t Visit(CmtItemBox& box) override { return Walk(box); }
  uint32_t Visit(DayItemBox& box) override { return Walk(box); }
  uint32_t Visit(NamItemBox& box) override { return Walk(box); }
  uint32_t Visit(AlbItemBox& box) override { return Walk(box); }
  uint32_t Visit(TooItemBox& box) override { return Walk(box); }
  uint32_t Visit(GenItemBox& box) override { return Walk(box); }
  uint32_t Visit(GnreItemBox& box) override { return Walk(box); }
  uint32_t Visit(CpyItemBox& box) override { return Walk(box); }
  uint32_t Visit(DesItemBox& box) override { return Walk(box); }
  uint32_t Visit(KeywItemBox& box) override { return Walk(box); }
  uint32_t Visit(TrknItemBox& box) override;
  uint32_t Visit(DataBox0& box) override;
  uint32_t Visit(DataBox1& box) override;
  uint32_t Visit(DataBox3& box) override;

 private:
  template <class T>
  uint32_t Walk(T& box) {
    VisitChildren(box.Children());
    return 0;
  }
  bool WriteInto(MoovBox& moov);
  void WriteCover(IlstBox& ilst);

  const MetaDataSet& set_;
  BoxList& boxes_;
  DataBox0* trackData_ = nullptr;
  std::wstring text_;
  // Set while a new item takes its text: boxes met anywhere else stay as they are.
  bool filling_ = false;
  bool written_ = false;
  bool failed_ = false;
};

// True when a file of this name gets an iTunes item list rather than 3GPP
// assets and an ID3v2 tag: the extension is "m4a", "m4v", "m4b" or "m4p" in any case.
bool UsesITunesTags(const std::wstring& path);

}  // namespace fileutil
