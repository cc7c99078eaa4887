// ID3v2 tags in MP4 files: the 'ID32' box inside a 'meta' box. The writer
// builds a version 2.3 tag from a metadata set (summary texts as text frames,
// pictures as APIC frames, generic items and opaque host records as GEOB
// frames); the reader collects a tag's frames back into a set.
#pragma once

#include <string>

#include "boxes.h"
#include "id3meta.h"
#include "metadataset.h"

namespace id3meta {

// Fills the frames the tag builder asks for from the current text, picture or item.
class CreateVisitor : public Visitor {
 public:
  explicit CreateVisitor(const fileutil::MetaDataSet& set) : set_(set) {}
  void Visit(UniqueFileIdFrame& frame) override;
  void Visit(GeneralObjectFrame& frame) override;
  void Visit(PictureFrame& frame) override;
  void Visit(UserTextFrame& frame) override;
  void Visit(CommentFrame& frame) override;
  void Visit(TextFrame& frame) override;
  void Visit(UnknownFrame&) override {}

  const fileutil::MetaDataSet& set_;
  std::wstring text;
  fileutil::PictureRecord picture;
  fileutil::GenericItem item;
};

// Stores every frame that has a host form in the set (first value stays).
class CollectVisitor : public Visitor {
 public:
  explicit CollectVisitor(fileutil::MetaDataSet& set) : set_(set) {}
  void Visit(UniqueFileIdFrame& frame) override;
  void Visit(GeneralObjectFrame& frame) override;
  void Visit(PictureFrame& frame) override;
  void Visit(UserTextFrame& frame) override;
  void Visit(CommentFrame& frame) override;
  void Visit(TextFrame& frame) override;
  void Visit(UnknownFrame&) override {}

 private:
  void Store(uint32_t id, const std::wstring& text);
  fileutil::MetaDataSet& set_;
};

}  // namespace id3meta

namespace fileutil {

// The entry GUID of the summary list of 64-bit RIFF files, whose texts travel as text frames.
extern const GUID kRiff64SummaryListGuid;  // {925F94BC-525A-11D2-86DC-00C04F8EDB8A}

// A new version 2.3 tag holding the set's data, every frame encoded as UTF-16
// with byte-order mark: text frames (ascending summary id), APIC frames
// (ascending picture type), GEOB frames for generic items, GEOB frames for
// entries that have no other form. Frames that would take the tag past the
// largest size an ID3v2 tag can state are left out. Null when memory ran short.
id3meta::Header* BuildId3v2Tag(const MetaDataSet& set);

class PutId3v2MetaData {
 public:
  PutId3v2MetaData(const MetaDataSet& set, BoxList& boxes) : set_(set), boxes_(boxes) {}
  // Gives the movie's 'ID32' box (made when absent, in a moov-level 'meta'
  // box with an 'ID32' handler) a new tag built from the set. False when the
  // tree has no moov or memory ran short (the tree then stays valid).
  bool Apply();

 private:
  const MetaDataSet& set_;
  BoxList& boxes_;
};

class GetId3v2MetaData : public BoxVisitor {
 public:
  GetId3v2MetaData(MetaDataSet& set, BoxList& boxes) : set_(set), boxes_(boxes) {}
  // Visits every top-level box in order and collects the frames of every 'ID32' box's tag.
  void Apply();

  using BoxVisitor::Visit;
  uint32_t Visit(ID3v2MetaBox& box) override;

 private:
  MetaDataSet& set_;
  BoxList& boxes_;
};

}  // namespace fileutil
