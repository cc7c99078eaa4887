// libFuzzer target of the Cardwell reader: the input is an MP4 file whose
// metadata boxes are read and walked for the Cardwell container (keyed texts,
// the sample table and the PNG thumbnails behind the sample data).
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "boxreader.h"
#include "metacardwell.h"
#include "metadataset.h"
#include "metafactories.h"

namespace {

struct Globals {
  Globals() { InitMetaFactories(); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Globals globals;
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  fileutil::BoxList* boxes = nullptr;
  {
    fileutil::BoxReader reader(in);
    boxes = reader.ReadMetaBoxes();
  }
  if (!boxes) return 0;
  in.clear();
  fileutil::MetaDataSet set;
  fileutil::GetCardwellMetaData(set, *boxes, in).Apply();
  fileutil::DeleteBoxList(boxes);
  return 0;
}
