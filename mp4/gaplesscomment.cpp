// The gapless-playback comment.
#include "gaplesscomment.h"

#include <cstdio>
#include <new>

#include "factories.h"

namespace fileutil {

const char kGaplessCommentName[9] = "iTunSMPB";

std::string GaplessCommentText(uint64_t priming, uint64_t padding, uint64_t length) {
  char text[160];
  std::snprintf(text, sizeof text, " %08X %08X %08X %016llX %08X %08X %08X %08X %08X %08X %08X %08X", 0u,
                unsigned(priming), unsigned(padding), static_cast<unsigned long long>(length), 0u, 0u, 0u, 0u, 0u,
                0u, 0u, 0u);
  return text;
}

namespace {

// The last child of `parent` that is a `T`, or a new one appended to it.
template <class T, class Parent>
T* FindOrAdd(Parent& parent) {
  T* found = nullptr;
  for (IBox* box : parent.Children())
    if (T* t = dynamic_cast<T*>(box)) found = t;
  if (found) return found;
  found = new (std::nothrow) T();
  if (found) parent.AddChild(found);
  return found;
}

}  // namespace

bool IsGaplessComment(IBox* box) {
  FreeformItemBox* item = dynamic_cast<FreeformItemBox*>(box);
  if (!item) return false;
  bool mean = false, name = false;
  for (IBox* child : item->Children()) {
    if (MeanBox* m = dynamic_cast<MeanBox*>(child))
      mean = std::string(m->text_.begin(), m->text_.end()) == kFreeformNamespace;
    if (NameBox* n = dynamic_cast<NameBox*>(child))
      name = std::string(n->text_.begin(), n->text_.end()) == kGaplessCommentName;
  }
  return mean && name;
}

bool PutGaplessComment(BoxList& boxes, uint64_t priming, uint64_t padding, uint64_t length) {
  MoovBox* moov = nullptr;
  for (IBox* box : boxes)
    if (MoovBox* m = dynamic_cast<MoovBox*>(box)) moov = m;
  if (!moov) return false;
  UdtaBox* udta = FindOrAdd<UdtaBox>(*moov);
  if (!udta) return false;
  MetaBox* meta = nullptr;
  for (IBox* box : udta->Children())
    if (MetaBox* m = dynamic_cast<MetaBox*>(box)) meta = m;
  if (!meta) {
    meta = NewMetaBox(FourCC(FCC("mdir")));
    if (!meta) return false;
    udta->AddChild(meta);
  }
  IlstBox* ilst = FindOrAdd<IlstBox>(*meta);
  if (!ilst) return false;
  BoxList& items = ilst->Children();
  for (auto it = items.begin(); it != items.end();) {
    if (IsGaplessComment(*it)) {
      delete *it;
      it = items.erase(it);
    } else {
      ++it;
    }
  }
  FreeformItemBox* item = new (std::nothrow) FreeformItemBox();
  MeanBox* mean = new (std::nothrow) MeanBox(kFreeformNamespace);
  NameBox* name = new (std::nothrow) NameBox(kGaplessCommentName);
  DataBox1* data = new (std::nothrow) DataBox1();
  if (!item || !mean || !name || !data) {
    delete item;
    delete mean;
    delete name;
    delete data;
    return false;
  }
  const std::string text = GaplessCommentText(priming, padding, length);
  data->payload.assign(text.begin(), text.end());
  item->AddChild(mean);
  item->AddChild(name);
  item->AddChild(data);
  ilst->AddChild(item);
  return true;
}

}  // namespace fileutil
