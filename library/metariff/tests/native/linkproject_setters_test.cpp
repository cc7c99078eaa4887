// The project-link record's setters replace a value already there: the
// second value is the one read back, and the first one's block is freed
// (the native build runs this under the leak checker, which fails the test
// on a block left behind).
#include <gtest/gtest.h>

#include <string.h>

#include "kvlinkproject.h"

namespace {

const WCHAR kFirst[] = {'C', ':', '\\', 'a', '.', 'p', 'r', 'j', 0};
const WCHAR kSecond[] = {'D', ':', '\\', 'b', 0};

struct TextSetter {
  const char* name;
  HRESULT (CKvLinkProjectInfo::*set)(const WCHAR*);
  WCHAR* (CKvLinkProjectInfo::*get)();
  DWORD (CKvLinkProjectInfo::*size)();
};

const TextSetter kTextSetters[] = {
    {"ProjectPath", &CKvLinkProjectInfo::SetProjectPath, &CKvLinkProjectInfo::GetProjectPath,
     &CKvLinkProjectInfo::GetProjectPathSize},
    {"CommandLine", &CKvLinkProjectInfo::SetCommandLine, &CKvLinkProjectInfo::GetCommandLineW,
     &CKvLinkProjectInfo::GetCommandLineSize},
    {"TemplateName", &CKvLinkProjectInfo::SetTemplateName, &CKvLinkProjectInfo::GetTemplateName,
     &CKvLinkProjectInfo::GetTemplateNameSize},
    {"CreatorAppInfo", &CKvLinkProjectInfo::SetCreatorAppInfo, &CKvLinkProjectInfo::GetCreatorAppInfo,
     &CKvLinkProjectInfo::GetCreatorAppInfoSize},
    {"CreatorAppWindowClassName", &CKvLinkProjectInfo::SetCreatorAppWindowClassName,
     &CKvLinkProjectInfo::GetCreatorAppWindowClassName, &CKvLinkProjectInfo::GetCreatorAppWindowClassNameSize},
};

TEST(LinkProjectSetters, TextSetTwiceKeepsTheSecondAndFreesTheFirst) {
  for (const TextSetter& s : kTextSetters) {
    SCOPED_TRACE(s.name);
    CKvLinkProjectInfo r;
    ASSERT_EQ((r.*s.set)(kFirst), S_OK);
    ASSERT_EQ((r.*s.set)(kSecond), S_OK);
    EXPECT_EQ((r.*s.size)(), sizeof(kSecond));
    EXPECT_EQ(memcmp((r.*s.get)(), kSecond, sizeof(kSecond)), 0);
    // The field's own text as the new value: copied before the old is freed.
    ASSERT_EQ((r.*s.set)((r.*s.get)()), S_OK);
    EXPECT_EQ(memcmp((r.*s.get)(), kSecond, sizeof(kSecond)), 0);
  }
}

struct DataSetter {
  const char* name;
  HRESULT (CKvLinkProjectInfo::*set)(const void*, DWORD);
  void* (CKvLinkProjectInfo::*get)();
  DWORD (CKvLinkProjectInfo::*size)();
};

const DataSetter kDataSetters[] = {
    {"TemplateData", &CKvLinkProjectInfo::SetTemplateData, &CKvLinkProjectInfo::GetTemplateData,
     &CKvLinkProjectInfo::GetTemplateDataSize},
    {"AppTemplateData", &CKvLinkProjectInfo::SetAppTemplateData, &CKvLinkProjectInfo::GetAppTemplateData,
     &CKvLinkProjectInfo::GetAppTemplateDataSize},
};

TEST(LinkProjectSetters, DataSetTwiceKeepsTheSecondAndFreesTheFirst) {
  for (const DataSetter& s : kDataSetters) {
    SCOPED_TRACE(s.name);
    CKvLinkProjectInfo r;
    ASSERT_EQ((r.*s.set)("abcdefgh", 8), S_OK);
    ASSERT_EQ((r.*s.set)("xyz", 3), S_OK);
    EXPECT_EQ((r.*s.size)(), 3u);
    EXPECT_EQ(memcmp((r.*s.get)(), "xyz", 3), 0);
    // Refused input leaves the value as it was.
    EXPECT_EQ((r.*s.set)(nullptr, 4), E_INVALIDARG);
    EXPECT_EQ((r.*s.size)(), 3u);
    ASSERT_EQ((r.*s.set)((r.*s.get)(), 2), S_OK);
    EXPECT_EQ(memcmp((r.*s.get)(), "xy", 2), 0);
  }
}

}  // namespace
