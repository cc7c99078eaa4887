// libFuzzer target over the writing side: the input is read for a metadata
// rewrite, sized and copied into memory; the copy, read and copied again, must
// come out byte for byte the same (a rewrite of our own output changes nothing).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "boxreader.h"
#include "boxwriter.h"
#include "descriptors.h"
#include "factories.h"
#include "preparewrite.h"

namespace {

struct Globals {
  Globals() {
    fileutil::CreateGlobalFactories();
    esds::CreateDescriptorFactory();
  }
};

// Answers false when the input gives no tree or the copy fails.
bool Rewrite(const std::string& in, std::string& out, fileutil::IFactory* factory) {
  std::istringstream source(in);
  fileutil::BoxReader reader(source);
  fileutil::BoxList* boxes = reader.ReadWith(factory);
  if (!boxes) return false;
  fileutil::PrepareWrite sizes(*boxes);
  sizes.Run();
  std::istringstream again(in);
  std::ostringstream copy;
  fileutil::BoxCopy writer(copy, again, *boxes, sizes.GetMediaDataShift());
  uint64_t n = writer.Write();
  bool ok = writer.Succeeded();
  if (ok && n != sizes.GetTotalSize()) std::abort();
  fileutil::DeleteBoxList(boxes);
  out = copy.str();
  return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Globals globals;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  fileutil::IFactory* factories[] = {fileutil::GetMetaFactory(), fileutil::GetBoxFactory()};
  for (fileutil::IFactory* factory : factories) {
    std::string first, second;
    if (!Rewrite(bytes, first, factory)) continue;
    if (!Rewrite(first, second, factory) || second != first) std::abort();
  }
  return 0;
}
