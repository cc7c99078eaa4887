// Helpers of the metadata tests: the factories for the whole program, trees
// read from bytes (the container library's test helpers) and written back.
#pragma once

#include <cstring>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "boxwriter.h"
#include "metafactories.h"
#include "mp4_test_util.h"
#include "preparewrite.h"
#include "textencoding.h"

namespace metatest {

using mp4test::B;
using mp4test::Bytes;
using mp4test::FB;
using mp4test::Hex;
using mp4test::U16;
using mp4test::U32;
using mp4test::U8;

class MetaFactoryEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { InitMetaFactories(); }
  void TearDown() override { TermMetaFactories(); }
};

// A tree read for a metadata rewrite.
struct WriteTree : mp4test::Tree {
  explicit WriteTree(const Bytes& bytes) : mp4test::Tree(bytes, fileutil::GetMetaFactory()) {}
  // The file the tree describes now, laid out and copied as a rewrite does.
  Bytes Written() {
    fileutil::PrepareWrite prepare(*boxes);
    prepare.Run();
    std::ostringstream out;
    in.clear();
    in.seekg(0);
    fileutil::BoxCopy copy(out, in, *boxes, prepare.GetMediaDataShift());
    copy.Write();
    EXPECT_TRUE(copy.Succeeded());
    return out.str();
  }
};

// Readable bytes for failure messages.
inline std::string Printable(const Bytes& b) {
  static const char* hex = "0123456789abcdef";
  std::string s;
  for (unsigned char c : b) {
    if (c >= 0x20 && c < 0x7F) {
      s += char(c);
    } else {
      s += "\\x";
      s += hex[c >> 4];
      s += hex[c & 15];
    }
  }
  return s;
}

// UTF-16 text from UTF-8 bytes (the sources hold UTF-8).
inline std::wstring W(const char* utf8) {
  std::wstring w;
  fileutil::Utf8ToWide(reinterpret_cast<const uint8_t*>(utf8), std::strlen(utf8), w);
  return w;
}

}  // namespace metatest
