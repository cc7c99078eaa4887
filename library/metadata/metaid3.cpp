// ID3v2 tags in MP4 files: writer, builder and reader.
#include "metaid3.h"

#include <cstring>
#include <new>

#include "kvguid.h"
#include "meta3gpp.h"
#include "textencoding.h"

namespace id3meta {

void CreateVisitor::Visit(TextFrame& frame) { frame.text = text; }
void CreateVisitor::Visit(UserTextFrame& frame) { frame.value = text; }
void CreateVisitor::Visit(CommentFrame& frame) { frame.text = text; }
void CreateVisitor::Visit(UniqueFileIdFrame& frame) {
  std::string bytes;
  fileutil::WideToLatin1(text, bytes);
  frame.identifier.assign(bytes.begin(), bytes.end());
}
void CreateVisitor::Visit(PictureFrame& frame) { frame.picture = picture; }
void CreateVisitor::Visit(GeneralObjectFrame& frame) { frame.item = item; }

// An empty text is not stored: it would keep a later reader's text out.
void CollectVisitor::Store(uint32_t id, const std::wstring& text) {
  if (!text.empty()) set_.SetSummaryText(id, text);
}
void CollectVisitor::Visit(TextFrame& frame) { Store(frame.GetHeader().hostId, frame.text); }
void CollectVisitor::Visit(CommentFrame& frame) { Store(frame.GetHeader().hostId, frame.text); }
void CollectVisitor::Visit(UserTextFrame& frame) {
  const IdTable* table = GetUserTextIdTable();
  if (table) Store(table->Find(frame.description), frame.value);
}
void CollectVisitor::Visit(UniqueFileIdFrame& frame) {
  const IdTable* table = GetUniqueFileIdTable();
  if (!table) return;
  std::wstring text;
  fileutil::Latin1ToWide(frame.identifier.data(), frame.identifier.size(), text);
  Store(table->Find(frame.owner), text);
}
void CollectVisitor::Visit(PictureFrame& frame) { set_.AddPicture(frame.picture); }
void CollectVisitor::Visit(GeneralObjectFrame& frame) { set_.AddGenericItem(frame.item); }

}  // namespace id3meta

namespace fileutil {

const GUID kRiff64SummaryListGuid = {0x925F94BC, 0x525A, 0x11D2, {0x86, 0xDC, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A}};


namespace {

const uint8_t kTagEncoding = 1;  // UTF-16 with byte-order mark

// Appends frames while the tag can still state its size.
class TagBuilder {
 public:
  explicit TagBuilder(id3meta::Header& tag) : tag_(tag) {}
  void Add(id3meta::Frame* frame) {
    uint64_t bytes = uint64_t(frame->PayloadSize()) + frame->GetHeader().headerSize;
    if (total_ + bytes > id3meta::kMaxSyncsafe) {
      delete frame;
      return;
    }
    total_ += bytes;
    tag_.AddFrame(frame);
  }

 private:
  id3meta::Header& tag_;
  uint64_t total_ = 0;
};

template <class T>
T* NewFrame(id3meta::Header& tag, const char (&id)[5]) {
  id3meta::Frame* f = tag.GetFactory().CreateFrame(FCC(id));
  T* typed = dynamic_cast<T*>(f);
  if (!typed) delete f;
  return typed;
}

}  // namespace

id3meta::Header* BuildId3v2Tag(const MetaDataSet& set) {
  id3meta::Header* tag = id3meta::CreateTag(3);
  if (!tag) return nullptr;
  try {
    TagBuilder builder(*tag);
    id3meta::CreateVisitor filler(set);
    for (const auto& text : set.Texts()) {
      id3meta::Frame* frame = tag->GetFactory().FindByHostId(text.first);
      if (!frame) continue;
      frame->SetEncoding(kTagEncoding);
      filler.text = text.second;
      frame->Accept(filler);
      builder.Add(frame);
    }
    for (const auto& picture : set.Pictures()) {
      id3meta::PictureFrame* frame = NewFrame<id3meta::PictureFrame>(*tag, "APIC");
      if (!frame) continue;
      frame->SetEncoding(kTagEncoding);
      filler.picture = picture.second;
      frame->Accept(filler);
      builder.Add(frame);
    }
    auto addObject = [&](const GenericItem& item) {
      id3meta::GeneralObjectFrame* frame = NewFrame<id3meta::GeneralObjectFrame>(*tag, "GEOB");
      if (!frame) return;
      frame->SetEncoding(kTagEncoding);
      filler.item = item;
      frame->Accept(filler);
      builder.Add(frame);
    };
    for (const auto& item : set.GenericItems()) addObject(item.second);
    // Pictures, summary lists and SMFMF data already travel in their own forms.
    for (const auto& entry : set.Entries()) {
      if (KvGuidEquals(entry.first, kPictureEntryGuid) || KvGuidEquals(entry.first, kRiff64SummaryListGuid) ||
          KvGuidEquals(entry.first, kSmfmfEntryGuid))
        continue;
      addObject(EntryToGenericItem(entry.first, entry.second));
    }
  } catch (const std::bad_alloc&) {
    delete tag;
    return nullptr;
  }
  return tag;
}

// A meta box for the tag: its handler is 'ID32', or not known to this tree
// (a tree read for rewriting keeps a handler's bytes in the file).
static bool IsId3Meta(IBox* box) {
  MetaBox* meta = dynamic_cast<MetaBox*>(box);
  if (!meta) return false;
  for (IBox* child : meta->Children()) {
    if (child->GetType() != FourCC(FCC("hdlr"))) continue;
    if (MediaHandlerReferenceBox* hdlr = dynamic_cast<MediaHandlerReferenceBox*>(child))
      return hdlr->handlerType == FourCC(FCC("ID32"));
    return true;
  }
  return true;
}

// The first 'ID32' box anywhere below the box.
static ID3v2MetaBox* FindId3Box(IBox* box) {
  if (ID3v2MetaBox* id3 = dynamic_cast<ID3v2MetaBox*>(box)) return id3;
  if (IContainerBox* container = dynamic_cast<IContainerBox*>(box))
    for (IBox* child : container->Children())
      if (ID3v2MetaBox* found = FindId3Box(child)) return found;
  return nullptr;
}

bool PutId3v2MetaData::Apply() {
  MoovBox* moov = nullptr;
  for (IBox* box : boxes_)
    if (MoovBox* m = dynamic_cast<MoovBox*>(box)) moov = m;
  // The box keeps its tag through the installed tag services.
  const Id3TagOperations* ops = GetId3TagOperations();
  if (!moov || !ops) return false;
  id3meta::Header* tag = BuildId3v2Tag(set_);
  if (!tag) return false;

  // A tag the file already carries is replaced where it is. Otherwise the tag
  // goes into a moov-level 'meta' box whose handler is 'ID32' (made when
  // absent): an item list's 'mdir' meta or a track's meta is no place for it.
  ID3v2MetaBox* id3 = FindId3Box(moov);
  if (!id3) {
    MetaBox* meta = nullptr;
    for (IBox* child : moov->Children())
      if (IsId3Meta(child)) meta = static_cast<MetaBox*>(child);
    if (!meta) {
      meta = NewMetaBox(FourCC(FCC("ID32")));
      if (!meta) {
        delete tag;
        return false;
      }
      moov->AddChild(meta);
    }
    id3 = new (std::nothrow) ID3v2MetaBox();
    if (!id3) {
      delete tag;
      return false;
    }
    meta->AddChild(id3);
  }
  if (id3->tag && ops->destroy) ops->destroy(id3->tag);
  id3->tag = tag;
  id3->rawTag.clear();
  id3->versionAndFlags = 0;
  id3->language = PackLanguageCode(kAssetLanguage);
  return true;
}

void GetId3v2MetaData::Apply() {
  for (IBox* box : boxes_) box->Accept(*this);
}

uint32_t GetId3v2MetaData::Visit(ID3v2MetaBox& box) {
  if (!box.tag || GetId3TagOperations() == nullptr) return 0;
  id3meta::CollectVisitor collect(set_);
  id3meta::VisitFrames(static_cast<id3meta::Header*>(box.tag), collect);
  return 0;
}

}  // namespace fileutil
