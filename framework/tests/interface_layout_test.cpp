// The plug-in interfaces' binary layout: every method at its slot, every
// interface id as published. The tables here are written from the interface
// descriptions, independently of the header's comments.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ffbase_interfaces.h"
#include "kvfileio.h"

namespace {

// GCC represents a pointer to a virtual member function as 1 + the byte
// offset of its slot in the virtual table.
template <class F>
int SlotOf(F method) {
  static_assert(sizeof(F) >= sizeof(ptrdiff_t), "member pointer layout");
  ptrdiff_t raw;
  std::memcpy(&raw, &method, sizeof raw);
  if ((raw & 1) == 0) return -1;  // not virtual
  return static_cast<int>((raw - 1) / static_cast<ptrdiff_t>(sizeof(void*)));
}

struct Slot {
  const char* name;
  int expected;
  int actual;
};

void CheckSlots(const char* interfaceName, std::initializer_list<Slot> slots) {
  for (const Slot& s : slots)
    EXPECT_EQ(s.actual, s.expected) << interfaceName << "::" << s.name;
}

#define SLOT(I, m, n) Slot{#m, n, SlotOf(&I::m)}

TEST(InterfaceLayout, ReadFileClass) {
  CheckSlots("IKvReadFileClass",
             {SLOT(IKvReadFileClass, AddRef, 1),
              SLOT(IKvReadFileClass, Release, 2), SLOT(IKvReadFileClass, SetClassIndex, 3),
              SLOT(IKvReadFileClass, GetClassIndex, 4), SLOT(IKvReadFileClass, SetDizuVOManager, 5),
              SLOT(IKvReadFileClass, GetDizuVOManager, 6), SLOT(IKvReadFileClass, GetReaderGuid, 7),
              SLOT(IKvReadFileClass, GetClassVersion, 8), SLOT(IKvReadFileClass, GetFlags, 9),
              SLOT(IKvReadFileClass, GetRendererClass, 10), SLOT(IKvReadFileClass, GetInfoTexts, 11),
              SLOT(IKvReadFileClass, IdentifyFile, 12), SLOT(IKvReadFileClass, IsFileSupported, 13),
              SLOT(IKvReadFileClass, Reserved14, 14), SLOT(IKvReadFileClass, OpenReadFile, 15),
              SLOT(IKvReadFileClass, Reserved16, 16), SLOT(IKvReadFileClass, ShowAbout, 17),
              SLOT(IKvReadFileClass, Reserved18, 18)});
}

TEST(InterfaceLayout, ReadFile) {
  CheckSlots("IKvReadFile",
             {SLOT(IKvReadFile, GetReadFileClass, 3), SLOT(IKvReadFile, GetInfoText, 4),
              SLOT(IKvReadFile, GetStreamInfoText, 5), SLOT(IKvReadFile, GetInfoValue, 6),
              SLOT(IKvReadFile, GetStreamInfoValue, 7), SLOT(IKvReadFile, Clone, 8), SLOT(IKvReadFile, Close, 9),
              SLOT(IKvReadFile, IsOpen, 10), SLOT(IKvReadFile, Open, 11), SLOT(IKvReadFile, SetPath, 12),
              SLOT(IKvReadFile, GetPath, 13), SLOT(IKvReadFile, GetDuration, 14),
              SLOT(IKvReadFile, GetStreamCount, 15), SLOT(IKvReadFile, GetStreamTypes, 16),
              SLOT(IKvReadFile, GetStreamFormatInfo, 17), SLOT(IKvReadFile, GetStreamType, 18),
              SLOT(IKvReadFile, FindStreamIndex, 19), SLOT(IKvReadFile, GetStreamByType, 20),
              SLOT(IKvReadFile, SetStreamParam, 21), SLOT(IKvReadFile, GetReadMeta, 22),
              SLOT(IKvReadFile, Reserved23, 23)});
}

TEST(InterfaceLayout, ReadStreams) {
  CheckSlots("IKvReadStream",
             {SLOT(IKvReadStream, GetReadFileClass, 3), SLOT(IKvReadStream, GetReadFile, 4),
              SLOT(IKvReadStream, GetStreamFlags, 5), SLOT(IKvReadStream, GetStreamType, 6),
              SLOT(IKvReadStream, GetDuration, 7), SLOT(IKvReadStream, GetStartTime, 8),
              SLOT(IKvReadStream, SetUserValue, 9), SLOT(IKvReadStream, Close, 10)});
  CheckSlots("IKvReadAudioStream",
             {SLOT(IKvReadAudioStream, Close, 10), SLOT(IKvReadAudioStream, GetSampleCount, 11),
              SLOT(IKvReadAudioStream, GetBlockAlign, 12), SLOT(IKvReadAudioStream, GetStreamFormatInfo, 13),
              SLOT(IKvReadAudioStream, GetSourceFormatInfo, 14), SLOT(IKvReadAudioStream, IsFormatSupported, 15),
              SLOT(IKvReadAudioStream, ReadSamples, 16), SLOT(IKvReadAudioStream, Reserved17, 17),
              SLOT(IKvReadAudioStream, Reserved18, 18)});
  CheckSlots("ffbase::IStreamInfo",
             {SLOT(ffbase::IStreamInfo, GetInfoText, 3), SLOT(ffbase::IStreamInfo, GetInfoValue, 4),
              SLOT(ffbase::IStreamInfo, GetSourceFormatInfo, 5), SLOT(ffbase::IStreamInfo, GetStreamFormatInfo, 6),
              SLOT(ffbase::IStreamInfo, SetStreamParam, 7)});
}

TEST(InterfaceLayout, ReadMetaFaces) {
  CheckSlots("IKvReadMeta", {SLOT(IKvReadMeta, GetMarkers, 3), SLOT(IKvReadMeta, GetType2Stream, 4),
                             SLOT(IKvReadMeta, Reserved5, 5), SLOT(IKvReadMeta, GetSummaryText, 6),
                             SLOT(IKvReadMeta, GetSummaryStream, 7)});
  CheckSlots("IKvReadGenericMeta", {SLOT(IKvReadGenericMeta, Reset, 3), SLOT(IKvReadGenericMeta, Next, 4)});
  CheckSlots("IKvReadProjectLinkMeta",
             {SLOT(IKvReadProjectLinkMeta, GetProjectPath, 3), SLOT(IKvReadProjectLinkMeta, GetCommandLine, 4),
              SLOT(IKvReadProjectLinkMeta, GetRendererGuid, 5), SLOT(IKvReadProjectLinkMeta, GetTemplateName, 6),
              SLOT(IKvReadProjectLinkMeta, GetTemplateData, 7), SLOT(IKvReadProjectLinkMeta, GetAppTemplateData, 8),
              SLOT(IKvReadProjectLinkMeta, GetProjectData, 9), SLOT(IKvReadProjectLinkMeta, GetCreatorAppInfo, 10),
              SLOT(IKvReadProjectLinkMeta, GetCreatorAppWindowClassName, 11)});
  CheckSlots("IKvReadProjectLinkMetaEx", {SLOT(IKvReadProjectLinkMetaEx, GetField, 3)});
  CheckSlots("IKvReadMediaMgrMeta",
             {SLOT(IKvReadMediaMgrMeta, GetUserDefStream, 3), SLOT(IKvReadMediaMgrMeta, GetUserDefInfo, 4)});
  CheckSlots("IKvReadPlimMeta", {SLOT(IKvReadPlimMeta, GetPlimInfo, 3), SLOT(IKvReadPlimMeta, GetPlimInfoEx, 4),
                                 SLOT(IKvReadPlimMeta, GetPlimStream, 5)});
}

TEST(InterfaceLayout, RenderSide) {
  CheckSlots("IKvRenderFileClass",
             {SLOT(IKvRenderFileClass, SetClassIndex, 3), SLOT(IKvRenderFileClass, GetClassIndex, 4),
              SLOT(IKvRenderFileClass, SetDizuVOManager, 5), SLOT(IKvRenderFileClass, GetDizuVOManager, 6),
              SLOT(IKvRenderFileClass, GetRendererGuid, 7), SLOT(IKvRenderFileClass, GetClassVersion, 8),
              SLOT(IKvRenderFileClass, GetFlags, 9), SLOT(IKvRenderFileClass, GetReaderClass, 10),
              SLOT(IKvRenderFileClass, GetInfoTexts, 11), SLOT(IKvRenderFileClass, Reserved12, 12),
              SLOT(IKvRenderFileClass, CreateRenderFile, 13), SLOT(IKvRenderFileClass, GetTemplateCount, 14),
              SLOT(IKvRenderFileClass, GetTemplate, 15), SLOT(IKvRenderFileClass, FindTemplateByGuid, 16),
              SLOT(IKvRenderFileClass, Reserved17, 17), SLOT(IKvRenderFileClass, ConvertTemplate, 18),
              SLOT(IKvRenderFileClass, Reserved19, 19), SLOT(IKvRenderFileClass, GetTemplateInfo, 20),
              SLOT(IKvRenderFileClass, GetTemplatePageCounts, 21), SLOT(IKvRenderFileClass, CreateTemplatePage, 22),
              SLOT(IKvRenderFileClass, PrepareTemplatePages, 23), SLOT(IKvRenderFileClass, Reserved24, 24),
              SLOT(IKvRenderFileClass, ShowAbout, 25), SLOT(IKvRenderFileClass, Reserved26, 26)});
  CheckSlots("IKvRenderMetaSupport2",
             {SLOT(IKvRenderMetaSupport2, Reset, 3), SLOT(IKvRenderMetaSupport2, Next, 4),
              SLOT(IKvRenderMetaSupport2, GetSupportedMetaFlags, 5)});
  CheckSlots("IKvRenderFile",
             {SLOT(IKvRenderFile, GetRenderFileClass, 3), SLOT(IKvRenderFile, ReleaseSources, 4),
              SLOT(IKvRenderFile, Reserved5, 5), SLOT(IKvRenderFile, Reserved6, 6), SLOT(IKvRenderFile, SetPath, 7),
              SLOT(IKvRenderFile, GetPath, 8), SLOT(IKvRenderFile, GetStreamCount, 9),
              SLOT(IKvRenderFile, Reserved10, 10), SLOT(IKvRenderFile, Reserved11, 11),
              SLOT(IKvRenderFile, SetSourceStream, 12), SLOT(IKvRenderFile, SetSourceMeta, 13),
              SLOT(IKvRenderFile, GetTemplate, 14), SLOT(IKvRenderFile, Reserved15, 15),
              SLOT(IKvRenderFile, Render, 16), SLOT(IKvRenderFile, WriteMetadata, 17)});
  CheckSlots("IKvUnsharedFIOPluginInfo",
             {SLOT(IKvUnsharedFIOPluginInfo, Initialize, 3), SLOT(IKvUnsharedFIOPluginInfo, GetItemCount, 4),
              SLOT(IKvUnsharedFIOPluginInfo, GetItem, 5)});
}

#ifndef _WIN64
// The memory token crosses processes and is passed by value: its 32-bit layout
// is fixed (the 64-bit build holds its handle and address whole).
TEST(InterfaceLayout, RecordsPassedByValue) {
  EXPECT_EQ(sizeof(_kvmemorytoken), 40u);
  EXPECT_EQ(offsetof(_kvmemorytoken, offset), 8u);
  EXPECT_EQ(offsetof(_kvmemorytoken, size), 16u);
  EXPECT_EQ(offsetof(_kvmemorytoken, base), 24u);
  EXPECT_EQ(offsetof(_kvmemorytoken, isMapping), 32u);
  EXPECT_EQ(offsetof(_kvmemorytoken, ownerProcessId), 36u);
}
#endif

std::string Text(const GUID& g) {
  wchar_t buf[64];
  if (StringFromGUID2(g, buf, 64) <= 0) return "?";
  std::string out;
  for (const wchar_t* p = buf; *p; ++p) out += static_cast<char>(*p >= L'A' && *p <= L'F' ? *p + 32 : *p);
  return out;
}

TEST(InterfaceIds, AsPublished) {
  struct Case {
    const GUID* id;
    const char* text;
  };
  const Case cases[] = {
      {&IID_IKvReadFileClass, "{eef647f1-02ab-4fcd-b06e-a501aeff2d34}"},
      {&IID_IKvReadFile, "{08458fe3-09b8-4c25-8b42-fa7a460dfc47}"},
      {&IID_IKvReadStream, "{60fd1c41-7825-11d3-a483-00105a24aa37}"},
      {&IID_IKvReadAudioStream, "{6e362ea8-f473-4167-b85f-074eab3290ce}"},
      {&IID_IKvReadVideoStream, "{d8e86f3c-4c2f-403c-ac5b-43f02af1b427}"},
      {&IID_IKvReadMeta, "{001420e1-938c-11d3-a483-00105a24aa37}"},
      {&IID_IKvReadGenericMeta, "{960a6634-5de0-4c22-90e0-35d01a0cf971}"},
      {&IID_IKvReadProjectLinkMeta, "{af5f58c0-f8e2-4f2a-b148-82929d172dbf}"},
      {&IID_IKvReadProjectLinkMetaEx, "{13e407d5-5fb5-4626-b6e4-49667888f5c0}"},
      {&IID_IKvReadMediaMgrMeta, "{50feb89b-8026-4fcc-a2cc-855bcf8ff74f}"},
      {&IID_IKvReadPlimMeta, "{f0345341-baf2-11d4-b26a-00a0d2188387}"},
      {&IID_IKvRenderFileClass, "{5f351064-46ad-47ee-8999-548769e73639}"},
      {&IID_IKvRenderFile, "{a69223f6-6701-4b79-95e5-864c2b24dcd7}"},
      {&IID_IKvRenderMetaSupport, "{ba95f583-fa5c-436e-b45a-0b76b63b010f}"},
      {&IID_IKvRenderMetaSupport2, "{6084e4b3-9479-4545-b469-e2c0032f20c3}"},
      {&IID_IKvUnsharedFIOPluginInfo, "{404e18a7-c288-4499-8e42-33fecfa1642c}"},
      {&CLSID_KvUnsharedFIOPluginInfo, "{f6e48972-515b-4a5e-b316-a46a03c9c3c0}"},
      {&ffbase::IID_IStreamInfo, "{cbddb28c-9a78-4b47-a0be-472cf3ea34e1}"},
  };
  for (const Case& c : cases) EXPECT_EQ(Text(*c.id), c.text);
  EXPECT_EQ(Text(__uuidof(IKvReadMeta)), "{001420e1-938c-11d3-a483-00105a24aa37}");
  EXPECT_EQ(Text(__uuidof(ffbase::IStreamInfo)), "{cbddb28c-9a78-4b47-a0be-472cf3ea34e1}");
}

}  // namespace
