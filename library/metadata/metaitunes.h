// The iTunes-style item list: the writer puts moov/udta/meta(hdlr 'mdir', ilst)
// with one item per summary text that has an item form and one cover picture
// (an earlier list's gapless comment stays);
// the reader takes the items of a file back as summary texts, the cover, the
// track number, the genre and the track length.
#pragma once

#include <cstdint>
#include <string>

#include "boxes.h"
#include "metadataset.h"

namespace fileutil {

class PutiTunesMetaData : public BoxVisitor {
 public:
  PutiTunesMetaData(const MetaDataSet& set, BoxList& boxes) : set_(set), boxes_(boxes) {}
  ~PutiTunesMetaData() { delete kept_; }
  PutiTunesMetaData(const PutiTunesMetaData&) = delete;
  PutiTunesMetaData& operator=(const PutiTunesMetaData&) = delete;
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
  void KeepGaplessComment(MetaBox& meta);

  const MetaDataSet& set_;
  BoxList& boxes_;
  DataBox0* trackData_ = nullptr;
  std::wstring text_;
  // Set while a new item takes its text: boxes met anywhere else stay as they are.
  bool filling_ = false;
  bool written_ = false;
  bool failed_ = false;
  // The gapless comment of the list being replaced, until the new list takes it.
  IBox* kept_ = nullptr;
};

class GetiTunesMetaData : public BoxVisitor {
 public:
  GetiTunesMetaData(MetaDataSet& set, BoxList& boxes) : set_(set), boxes_(boxes) {}
  // Visits every top-level box in order; a text or picture already in the set stays.
  void Apply();

  using BoxVisitor::Visit;
  uint32_t Visit(ARTItemBox& box) override { return Item(box, FCC("IART")); }
  uint32_t Visit(AARTItemBox& box) override { return Item(box, FCC("IAAT")); }
  uint32_t Visit(CmtItemBox& box) override { return Item(box, FCC("ICMT")); }
  uint32_t Visit(DayItemBox& box) override { return Item(box, FCC("ICRD")); }
  uint32_t Visit(NamItemBox& box) override { return Item(box, FCC("INAM")); }
  uint32_t Visit(AlbItemBox& box) override { return Item(box, FCC("ISRC")); }
  uint32_t Visit(TooItemBox& box) override { return Item(box, FCC("ISFT")); }
  uint32_t Visit(GenItemBox& box) override { return Item(box, FCC("IGNR")); }
  uint32_t Visit(CpyItemBox& box) override { return Item(box, FCC("ICOP")); }
  uint32_t Visit(DesItemBox& box) override { return Item(box, FCC("ISBJ")); }
  uint32_t Visit(KeywItemBox& box) override { return Item(box, FCC("IKEY")); }
  uint32_t Visit(CovrBox& box) override { return Item(box, FCC("covr")); }
  uint32_t Visit(TrknItemBox& box) override;
  uint32_t Visit(GnreItemBox& box) override;
  uint32_t Visit(FreeformItemBox& box) override;
  uint32_t Visit(MeanBox& box) override;
  uint32_t Visit(NameBox& box) override;
  uint32_t Visit(DataBox0& box) override;
  uint32_t Visit(DataBox1& box) override;
  uint32_t Visit(DataBox3& box) override;
  uint32_t Visit(DataBox13& box) override { return Cover(box.payload, L"image/jpg"); }
  uint32_t Visit(DataBox14& box) override { return Cover(box.payload, L"image/png"); }
  uint32_t Visit(DataBox27& box) override { return Cover(box.payload, L"image/bmp"); }
  uint32_t Visit(Mpeg4AudioSampleEntry& box) override;
  uint32_t Visit(MediaHeaderBox& box) override;
  uint32_t Visit(TrakBox& box) override;

 private:
  template <class T>
  uint32_t Item(T& box, uint32_t id) {
    currentId_ = id;
    VisitChildren(box.Children());
    currentId_ = 0;
    return 0;
  }
  uint32_t Cover(const ByteVector& payload, const wchar_t* mimeType);
  void FreeformKey();

  MetaDataSet& set_;
  BoxList& boxes_;
  DataBox0* typeZero_ = nullptr;
  uint32_t currentId_ = 0;
  bool audioEntrySeen_ = false;
  std::string mean_;
  std::string name_;
};

// True when a file of this name gets an iTunes item list rather than 3GPP
// assets and an ID3v2 tag: the extension is "m4a", "m4v", "m4b" or "m4p" in any case.
bool UsesITunesTags(const std::wstring& path);

}  // namespace fileutil
