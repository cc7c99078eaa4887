// libFuzzer target over the tag readers: the input is read as an ID3v2 tag
// (collected into a set, printed and written back) and as an MP4 file whose
// tree is read with the metadata factory and walked by the 3GPP, ID3v2 and
// iTunes readers.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "boxreader.h"
#include "factories.h"
#include "id3meta.h"
#include "meta3gpp.h"
#include "metafactories.h"
#include "metaid3.h"
#include "metaitunes.h"

namespace {

struct Globals {
  Globals() { InitMetaFactories(); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Globals globals;
  std::string bytes(reinterpret_cast<const char*>(data), size);
  {
    std::istringstream in(bytes);
    id3meta::Header* tag = id3meta::ReadTag(in, uint32_t(size));
    if (tag) {
      fileutil::MetaDataSet set;
      id3meta::CollectVisitor collect(set);
      id3meta::VisitFrames(tag, collect);
      std::ostringstream printed, written;
      id3meta::PrintVisitor(printed).Print(tag);
      tag->UpdateSize(0);
      tag->WriteTag(written);
      delete tag;
    }
  }
  std::istringstream in(bytes);
  fileutil::BoxReader reader(in);
  fileutil::BoxList* boxes = reader.ReadWith(fileutil::GetReadMetaFactory());
  if (boxes) {
    fileutil::MetaDataSet set;
    fileutil::Get3gppMetaData(set, *boxes).Apply();
    fileutil::GetId3v2MetaData(set, *boxes).Apply();
    fileutil::GetiTunesMetaData(set, *boxes).Apply();
    fileutil::DeleteBoxList(boxes);
  }
  return 0;
}
