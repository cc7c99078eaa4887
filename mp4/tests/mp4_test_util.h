// Helpers of the container library's tests: a byte builder for boxes, reading
// a tree from bytes, and the fixture paths.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "boxreader.h"
#include "boxtree.h"
#include "descriptors.h"
#include "factories.h"
#include "vog_files.h"
#include "vog_paths.h"

namespace mp4test {

typedef std::string Bytes;

inline Bytes U8(uint8_t v) { return Bytes(1, char(v)); }
inline Bytes U16(uint16_t v) { return U8(uint8_t(v >> 8)) + U8(uint8_t(v)); }
inline Bytes U32(uint32_t v) { return U16(uint16_t(v >> 16)) + U16(uint16_t(v)); }
inline Bytes U64(uint64_t v) { return U32(uint32_t(v >> 32)) + U32(uint32_t(v)); }
inline Bytes B(const char* type, const Bytes& payload) { return U32(uint32_t(8 + payload.size())) + type + payload; }
inline Bytes FB(const char* type, uint32_t vf, const Bytes& payload) { return B(type, U32(vf) + payload); }
inline Bytes Hex(const char* hex) {
  Bytes out;
  for (const char* p = hex; p[0] && p[1];) {
    if (*p == ' ') {
      ++p;
      continue;
    }
    out += char(std::strtoul(std::string(p, 2).c_str(), nullptr, 16));
    p += 2;
  }
  return out;
}

// Process-wide factories for every test program.
class FactoryEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    fileutil::CreateGlobalFactories();
    esds::CreateDescriptorFactory();
  }
  void TearDown() override {
    esds::DestroyDescriptorFactory();
    fileutil::DestroyGlobalFactories();
  }
};

// A tree read from bytes; released with the object.
struct Tree {
  explicit Tree(const Bytes& bytes, fileutil::IFactory* factory = nullptr) : in(bytes) {
    fileutil::BoxReader reader(in);
    boxes = reader.ReadWith(factory ? factory : fileutil::GetBoxFactory());
  }
  ~Tree() { fileutil::DeleteBoxList(boxes); }
  Tree(const Tree&) = delete;
  Tree& operator=(const Tree&) = delete;
  // "depth type offset size" per box, one line each.
  std::string Dump() const {
    std::ostringstream out;
    if (!boxes) return "(null)";
    fileutil::WalkBoxTree(*boxes, [&](fileutil::IBox& b, unsigned depth) {
      out << depth << ' ' << b.GetType() << ' ' << b.GetOffset() << ' ' << b.GetSize() << '\n';
    });
    return out.str();
  }
  template <class T>
  T* Find(const char* type, int nth = 0) const {
    T* found = nullptr;
    if (!boxes) return nullptr;
    fileutil::WalkBoxTree(*boxes, [&](fileutil::IBox& b, unsigned) {
      if (!found && b.GetType() == fileutil::FourCC(type) && nth-- == 0) found = dynamic_cast<T*>(&b);
    });
    return found;
  }
  std::istringstream in;
  fileutil::BoxList* boxes = nullptr;
};

// A path of the build machine as the test program sees it: unchanged natively,
// on Wine's Z: drive with backslashes in the Windows build.
using vogtest::HostPath;

inline std::string FixturePath(const char* name) { return vogtest::FixturePath(std::string("mp4/") + name); }

inline std::string VectorPath(const char* name) { return vogtest::SharedPath(std::string("vectors/mp4/") + name); }

inline bool LoadFile(const std::string& path, Bytes& out) { return vogtest::ReadText(path, out); }

inline std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

}  // namespace mp4test
