// libFuzzer target of the ID3v2 parser on its own: the input is a tag (any
// version, extended header, unsynchronisation of the tag or of frames,
// compressed, encrypted and grouped frames, frames of odd sizes). A tag that
// reads is collected into a set, printed, cloned, laid out and written; the
// written tag must read again with the same frames in the same order, and
// the clone must write the same bytes as the tag. (Texts are not compared:
// UTF-16 text without a valid byte-order mark is read by a guess that its
// writing does not repeat.)
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "id3meta.h"
#include "metadataset.h"
#include "metaid3.h"
#include "metafactories.h"

namespace {

struct Globals {
  Globals() { InitMetaFactories(); }
};

std::string Written(id3meta::Header* tag) {
  std::ostringstream out;
  tag->UpdateSize(0);
  tag->WriteTag(out);
  return out.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Globals globals;
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  id3meta::Header* tag = id3meta::ReadTag(in, uint32_t(size));
  if (!tag) return 0;
  fileutil::MetaDataSet set;
  id3meta::CollectVisitor collect(set);
  id3meta::VisitFrames(tag, collect);
  std::ostringstream printed;
  id3meta::PrintVisitor(printed).Print(tag);

  id3meta::Header* copy = tag->Clone();
  const std::string first = Written(tag);
  std::istringstream again(first);
  id3meta::Header* reread = id3meta::ReadTag(again, uint32_t(first.size()));
  if (!reread || reread->Frames().size() != tag->Frames().size()) std::abort();
  auto a = tag->Frames().begin();
  for (id3meta::Frame* f : reread->Frames())
    if (f->GetHeader().id != (*a++)->GetHeader().id) std::abort();
  if (copy && Written(copy) != first) std::abort();
  delete reread;
  delete copy;
  delete tag;
  return 0;
}
