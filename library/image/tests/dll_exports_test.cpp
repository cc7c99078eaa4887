// The image exports of vogaac2.dll resolve under their decorated names and
// work through the DLL.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "kvhsl.h"
#include "kvpixeltype.h"
#include "kvxchg.h"
#include "vog_exports.h"

TEST(ImageExports, ResolveAndWork) {
  HMODULE dll = LoadLibraryW(L"vogaac2.dll");
  ASSERT_NE(dll, nullptr) << GetLastError();
  const char* names[] = {
      "_KvGetPixelType@4",         "_KvGetPixelBitsPerChannel@8",   "_KvPixelTypeToBitAttribs@20",
      "_KvCountBits@4",            "_KvCreateBitMask@8",            "_KvVideo_IsCompressed@4",
      "_KvVideo_GetFormatText@12", "_KvVideo_GetAttribsText@12",    "_KvVideo_GetAttribsTextEx@20",
      "_KvVideo_InitBitmapInfo@28", "_KvVideo_PaletteRGBAFromEntry@12", "_KvVideo_PaletteEntryFromRGBA@12",
      "_KvVideoDSP_ForceExternRef@0", "_KvYUVImageBytesAndOffsets@8", "_KVRGBA_To_KVHSL@8",
      "_KVRGBAFLOAT_To_KVHSL@8",   "_KVDIBPIXEL_To_KVHSL@8",        "_KVDIBPIXEL_To_KVHSL_Float@8",
      "_KVHSL_To_KVRGBA@8",        "_KVHSL_To_KVRGBAFLOAT@8",       "_KVHSL_To_KVDIBPIXEL@8",
      "_KVHSL_To_KVDIBPIXEL_Float@8", "_HotCheckNTSCYIQ@4",         "_HotCheckNTSCYUV@4",
      "_HotCheckPALYUV@4",         "_HotCheckNTSCYIQReturn@4",      "_HotCheckNTSCYUVReturn@4",
      "_HotCheckPALYUVReturn@4",   "_KvXCHGGetFunctionPointers@36", "_KvDibCreateColorQuantizer@8",
      "_KvDibQuantizePalette@24",  "_KvDibAlloc@28",               "_KvDibFree@8",
      "_KvDibInfo@32",             "_KvDibSet@36",                  "_KvDibFillRect@24",
      "_KvDibFillRectChannel@28",  "_KvDibGetPixel@24",             "_KvDibSetPixel@24",
      "_KvDibFlip@24",             "_KvDibSwapRB@16",               "_KvDibFadeToColor@32",
      "_KvDibMergeFields@32",      "_KvDibMergeFieldsRotated@32",   "_KvUYVY2RGBA@24",
      "_KvRGBA2UYVY@24",           "_KvUYVY2RGB@24",                "_KvRGB2UYVY@24",
      "_KvYUV_v210_TO_UYVY@24",    "_KvPrepareSubpixelParam@36",    "_KvDibScale_BilinearSubPixel@44",
      "_KvDibScale_Bilinear@44",   "_KvDibScale_BiCubic@44",        "_KvDibScale_BiCubicSubPixel@44",
      "_KvDibCopy@52",             "_KvDibPrepareRects@28",         "_KvDibCopyInterlace@40",
      "_KvYUV420ToRGBA@48",        "_KvYUV420ToRGBA_HalfHorz@48",   "_KvYUV420ToRGBA_Half_BlendFields@48",
      "_KvYUV420ToRGBA_Half@48",   "_KvYUV420ToRGBA_Quarter@48",    "_KvYUV420ToRGBA_Quarter_BlendFields@48",
      "_KvYUV420ToRGBA_QuarterHorz_HalfVert_BlendFields@48",        "_KvYUV422PlanarToRGBA@44",
      "_KvYUV_YUVToRGB@44",        "_KvYUV_RGBToYUV@44",
  };
  for (const char* n : names) EXPECT_NE(GetProcAddress(dll, VogExportName(n).c_str()), nullptr) << n;

  typedef HRESULT(__stdcall * InitFn)(BITMAPINFOHEADER*, int32_t, int32_t, int32_t, const RGBQUAD*, int32_t, DWORD*);
  typedef int32_t(__stdcall * TypeFn)(const BITMAPINFOHEADER*);
  auto init = reinterpret_cast<InitFn>(reinterpret_cast<void*>(GetProcAddress(dll, VogExportName("_KvVideo_InitBitmapInfo@28").c_str())));
  auto type = reinterpret_cast<TypeFn>(reinterpret_cast<void*>(GetProcAddress(dll, VogExportName("_KvGetPixelType@4").c_str())));
  ASSERT_NE(init, nullptr);
  ASSERT_NE(type, nullptr);
  struct {
    BITMAPINFOHEADER h;
    DWORD masks[3];
  } blk = {};
  DWORD size = 0;
  EXPECT_EQ(init(&blk.h, 26, 7, 3, nullptr, 0, &size), S_OK);
  EXPECT_EQ(size, 16u * 3);
  EXPECT_EQ(blk.masks[0], 0xF800u);
  EXPECT_EQ(type(&blk.h), 26);

  typedef BOOL(__stdcall * HotFn)(const KVRGBAFLOAT*);
  auto hot = reinterpret_cast<HotFn>(reinterpret_cast<void*>(GetProcAddress(dll, VogExportName("_HotCheckPALYUV@4").c_str())));
  ASSERT_NE(hot, nullptr);
  const KVRGBAFLOAT yellow{0, 1, 1, 1}, grey{0.5f, 0.5f, 0.5f, 1};
  EXPECT_EQ(hot(&yellow), 1);
  EXPECT_EQ(hot(&grey), 0);

  // The exchange through the DLL: 24-bit to 32-bit at 8 bits.
  typedef HRESULT(__stdcall * SelectFn)(int32_t, int32_t, uint32_t, KvXchgContext*, const uint32_t*, double, double);
  auto select =
      reinterpret_cast<SelectFn>(reinterpret_cast<void*>(GetProcAddress(dll, VogExportName("_KvXCHGGetFunctionPointers@36").c_str())));
  ASSERT_NE(select, nullptr);
  KvXchgContext c;
  ASSERT_EQ(select(28, 27, 0, &c, nullptr, 0.0, 0.0), S_OK);
  EXPECT_EQ(c.intermediateKind, 0u);
  const uint8_t px[3] = {1, 2, 3};
  uint8_t out[4] = {};
  c.sourcePtr = px;
  c.destPtr = out;
  c.fetchOne(&c);
  c.storeOne(&c);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[2], 3);
  EXPECT_EQ(out[3], 255);
  EXPECT_EQ(select(28, 33, 0, &c, nullptr, 0.0, 0.0), E_INVALIDARG);
  FreeLibrary(dll);
}

// The frame converter's row loops run on worker threads that outlive the
// call. The DLL keeps itself loaded once they exist, so unloading and
// reloading it and converting again neither crashes nor changes the result.
// (The first test unloads the DLL before any parallel loop has run.)
TEST(ImageExports, ParallelConversionSurvivesUnloadAndReload) {
  const int32_t w = 1920, h = 1080;
  BITMAPINFOHEADER yuv = {};
  yuv.biSize = sizeof(yuv);
  yuv.biWidth = w;
  yuv.biHeight = h;
  yuv.biCompression = KVBI_I420;
  yuv.biBitCount = 12;
  std::vector<BYTE> frame(size_t(w) * h * 3 / 2);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = BYTE((i * 2654435761u) >> 24);
  std::vector<BYTE> first;
  for (int cycle = 0; cycle < 3; ++cycle) {
    HMODULE dll = LoadLibraryW(L"vogaac2.dll");
    ASSERT_NE(dll, nullptr) << GetLastError();
    typedef HRESULT(__stdcall * InitFn)(BITMAPINFOHEADER*, int32_t, int32_t, int32_t, const RGBQUAD*, int32_t,
                                        DWORD*);
    typedef HRESULT(__stdcall * ToRgbFn)(const BITMAPINFOHEADER*, double, BYTE*, int32_t, const BITMAPINFOHEADER*,
                                         const void*, const BYTE*, const void*, int32_t, uint32_t);
    auto init = reinterpret_cast<InitFn>(
        reinterpret_cast<void*>(GetProcAddress(dll, VogExportName("_KvVideo_InitBitmapInfo@28").c_str())));
    auto toRgb = reinterpret_cast<ToRgbFn>(
        reinterpret_cast<void*>(GetProcAddress(dll, VogExportName("_KvYUV_YUVToRGB@44").c_str())));
    ASSERT_NE(init, nullptr);
    ASSERT_NE(toRgb, nullptr);
    BITMAPINFOHEADER dib;
    ASSERT_EQ(init(&dib, 28, w, h, nullptr, 0, nullptr), S_OK);
    std::vector<BYTE> out(size_t(w) * h * 4, 0);
    ASSERT_EQ(toRgb(&dib, 0.0, out.data(), 0, &yuv, nullptr, frame.data(), nullptr, 0, 0), S_OK) << "cycle " << cycle;
    if (cycle == 0)
      first = out;
    else
      EXPECT_TRUE(out == first) << "cycle " << cycle;
    EXPECT_TRUE(FreeLibrary(dll)) << "cycle " << cycle;
    // Pinned by its first parallel loop: still mapped after the last
    // FreeLibrary, so the sleeping worker threads never run unmapped code.
    EXPECT_NE(GetModuleHandleW(L"vogaac2.dll"), nullptr) << "cycle " << cycle;
  }
}
