// Pixel-type codes of the image library and the records that describe packed
// device-independent bitmaps: classifying a BITMAPINFOHEADER, row strides and
// pixel addresses, building headers, palette-entry conversions and the format
// and attribute texts.
#pragma once

#include "kvbitmapinfo.h"

// Pixel-type codes. 16..32 are the RGB family every bitmap operation takes;
// 64..68 the YUV layouts of the colour-conversion routines; 0 is unknown.
enum KVPIXELTYPE : int32_t {
  KVPT_UNKNOWN = 0,
  KVPT_BW1 = 16,       // 1-bit black and white
  KVPT_GREY1 = 17,     // grey, 1 bit
  KVPT_GREY2 = 18,     // grey, 2 bits
  KVPT_GREY4 = 19,     // grey, 4 bits
  KVPT_GREY8 = 20,     // grey, 8 bits
  KVPT_GREY16 = 21,    // grey, 16 bits
  KVPT_GREYF32 = 22,   // grey, 32-bit float
  KVPT_PAL4 = 23,      // 4-bit palette
  KVPT_PAL8 = 24,      // 8-bit palette
  KVPT_RGB555 = 25,    // 16-bit 5-5-5
  KVPT_RGB565 = 26,    // 16-bit 5-6-5
  KVPT_RGB24 = 27,     // 24-bit blue, green, red
  KVPT_RGB32 = 28,     // 32-bit blue, green, red, alpha
  KVPT_RGBA32 = 29,    // 32-bit RGBA ("KVDB")
  KVPT_RGB101010 = 30, // 32-bit 10-10-10-2
  KVPT_RGBA64 = 31,    // 16 bits a channel
  KVPT_RGBAF128 = 32,  // 32-bit float a channel
  KVPT_UYVY = 64,
  KVPT_YUYV = 65,
  KVPT_Y41B = 66,
  KVPT_I420 = 67,
  KVPT_V210 = 68,
};

// Field order of a video stream.
enum KVINTERLACETYPE : int32_t {
  KVIT_NOTGIVEN = -1,
  KVIT_PROGRESSIVE = 0,
  KVIT_UPPERFIRST = 1,
  KVIT_LOWERFIRST = 2,
  KVIT_ONEFIELD_HALF = 3,
  KVIT_ONEFIELD_DOUBLED = 4,
};

// The library's private compression codes.
#define KVBI_GREYSCALE KV_FOURCC('K', 'V', 'G', 'S')  // grey-scale pixels
#define KVBI_RGBA KV_FOURCC('K', 'V', 'D', 'B')       // RGBA of 32, 64 or 128 bits
#define KVBI_UYVY KV_FOURCC('U', 'Y', 'V', 'Y')
#define KVBI_YUYV KV_FOURCC('Y', 'U', 'Y', 'V')
#define KVBI_Y41B KV_FOURCC('Y', '4', '1', 'B')
#define KVBI_I420 KV_FOURCC('I', '4', '2', '0')
#define KVBI_V210 KV_FOURCC('v', '2', '1', '0')

// Size in bytes of the video-extension block handed out by
// KvPixelTypeToBitAttribs (16 words).
#define KV_VIDEOEXTENSION_BYTES 64

// Plane layout of a YUV frame: luma (or only) plane pitch, U offset, U pitch,
// V offset, V pitch; the last four are 0 for packed layouts.
struct KvYUVPlaneLayout {
  DWORD pitch;
  DWORD uOffset;
  DWORD uPitch;
  DWORD vOffset;
  DWORD vPitch;
};

extern "C" {

int32_t KVAPI KvGetPixelType(const BITMAPINFOHEADER* header);
int32_t KVAPI KvGetPixelBitsPerChannel(int32_t code, BYTE* channelBits);
int32_t KVAPI KvPixelTypeToBitAttribs(int32_t code, DWORD* compression, DWORD* videoExtension,
                                      DWORD videoExtensionSize, DWORD* masks);
int32_t KVAPI KvCountBits(DWORD value);
DWORD KVAPI KvCreateBitMask(int32_t first, int32_t count);
BOOL KVAPI KvVideo_IsCompressed(const BITMAPINFOHEADER* header);
int32_t KVAPI KvVideo_GetFormatText(DWORD compression, wchar_t* text, int32_t cch);
int32_t KVAPI KvVideo_GetAttribsText(const BITMAPINFOHEADER* header, wchar_t* text, int32_t cch);
int32_t KVAPI KvVideo_GetAttribsTextEx(const BITMAPINFOHEADER* header, DWORD unused1, wchar_t* text, DWORD unused2,
                                       DWORD unused3);
HRESULT KVAPI KvVideo_InitBitmapInfo(BITMAPINFOHEADER* header, int32_t code, int32_t width, int32_t height,
                                     const RGBQUAD* palette, int32_t colours, DWORD* imageSize);
void KVAPI KvVideo_PaletteRGBAFromEntry(BYTE* rgba, const BYTE* entries, int32_t count);
void KVAPI KvVideo_PaletteEntryFromRGBA(BYTE* entries, const BYTE* rgba, int32_t count);
int32_t KVAPI KvVideoDSP_ForceExternRef();

// Byte size and plane layout of the YUV frame a header describes ("YUYV",
// "UYVY", "v210", "I420", "Y41B"); 0 for any other compression.
DWORD KVAPI KvYUVImageBytesAndOffsets(const BITMAPINFOHEADER* header, KvYUVPlaneLayout* layout);

}  // extern "C"

// The DWORD-aligned row size of a bitmap.
DWORD KvDibGetStride(const BITMAPINFOHEADER* header);
// Where the pixel bits of a packed DIB begin.
BYTE* KvDibGetBitsPtr(BITMAPINFOHEADER* header);
const BYTE* KvDibGetBitsPtr(const BITMAPINFOHEADER* header);
