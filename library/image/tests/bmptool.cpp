// Test tool: writes BMP files whose headers come from KvVideo_InitBitmapInfo
// (for an independent reader to check), and classifies BMP files written by
// other programs with KvGetPixelType, KvDibGetStride and KvDibGetBitsPtr.
//   bmptool write <dir>     ours_<name>.bmp and ours_<name>.rgb (expected
//                           top-down RGB bytes) for each case
//   bmptool classify <file> code=.. stride=.. offset=.. compressed=..
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kvpixeltype.h"

namespace {

const int kWidth = 13, kHeight = 5;

bool ReadAll(const char* path, std::vector<BYTE>& out) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  BYTE buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) out.insert(out.end(), buf, buf + n);
  std::fclose(f);
  return true;
}

bool WriteAll(const std::string& path, const void* data, size_t n) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data, 1, n, f) == n;
  return std::fclose(f) == 0 && ok;
}

void Put16(BYTE* p, unsigned v) { p[0] = BYTE(v); p[1] = BYTE(v >> 8); }
void Put32(BYTE* p, DWORD v) { for (int i = 0; i < 4; ++i) p[i] = BYTE(v >> (8 * i)); }

// The colour the case puts at (x, y), top-down, as R, G, B.
void Colour(int x, int y, int levels, BYTE rgb[3]) {
  rgb[0] = BYTE(((x * 3 + y) % levels) * 255 / (levels - 1));
  rgb[1] = BYTE(((x + y * 2) % levels) * 255 / (levels - 1));
  rgb[2] = BYTE(((x * 5 + y * 3 + 1) % levels) * 255 / (levels - 1));
}

struct Case {
  const char* name;
  int32_t code;
  int paletteColours;  // 0: no palette given
};

bool WriteCase(const std::string& dir, const Case& c) {
  // Header, room for masks or 256 palette entries, and the pixels.
  std::vector<BYTE> dib(40 + 1024 + 64 * 1024, 0);
  BITMAPINFOHEADER* h = reinterpret_cast<BITMAPINFOHEADER*>(dib.data());
  std::vector<RGBQUAD> palette(256);
  const int bits0 = KvGetPixelBitsPerChannel(c.code, nullptr);
  // Palette of the palette types: a ramp in which index i is grey-ish colour i.
  const int entries = bits0 <= 8 ? (1 << bits0) : 0;
  for (int i = 0; i < entries; ++i) {
    palette[i].rgbRed = BYTE(i * 255 / (entries - 1));
    palette[i].rgbGreen = BYTE(255 - i * 255 / (entries - 1));
    palette[i].rgbBlue = BYTE((i * 77) & 0xFF);
  }
  DWORD imageSize = 0;
  HRESULT hr = KvVideo_InitBitmapInfo(h, c.code, kWidth, kHeight, c.paletteColours ? palette.data() : nullptr,
                                      c.paletteColours, &imageSize);
  if (hr != S_OK) return false;
  BYTE* bits = KvDibGetBitsPtr(h);
  if (!c.paletteColours && entries) {
    // No palette was given: the header announces biClrUsed entries; fill them.
    std::memcpy(dib.data() + 40, palette.data(), size_t(h->biClrUsed) * 4);
  }
  const DWORD stride = KvDibGetStride(h);
  std::vector<BYTE> rgb;
  for (int y = 0; y < kHeight; ++y) {
    BYTE* row = bits + size_t(kHeight - 1 - y) * stride;  // bottom-up
    for (int x = 0; x < kWidth; ++x) {
      BYTE col[3];
      if (entries) {
        // Index pattern within the colours the header lists.
        const int used = h->biClrUsed ? int(h->biClrUsed) : entries;
        const int idx = (x * 7 + y * 3) % used;
        if (bits0 == 1) row[x / 8] |= BYTE(idx << (7 - x % 8));
        if (bits0 == 4) row[x / 2] |= BYTE(idx << (x % 2 ? 0 : 4));
        if (bits0 == 8) row[x] = BYTE(idx);
        col[0] = palette[idx].rgbRed;
        col[1] = palette[idx].rgbGreen;
        col[2] = palette[idx].rgbBlue;
      } else if (c.code == KVPT_RGB555 || c.code == KVPT_RGB565) {
        // Colours that the 5 and 6-bit fields hold exactly (k * 255 / max).
        BYTE c32[3], c64[3];
        Colour(x, y, 32, c32);
        Colour(x, y, 64, c64);
        const bool is565 = c.code == KVPT_RGB565;
        col[0] = c32[0];
        col[1] = is565 ? c64[1] : c32[1];
        col[2] = c32[2];
        const unsigned r = col[0] >> 3, g = is565 ? col[1] >> 2 : col[1] >> 3, b = col[2] >> 3;
        Put16(row + x * 2, is565 ? (r << 11 | g << 5 | b) : (r << 10 | g << 5 | b));
      } else {
        Colour(x, y, 256, col);
        const int bpp = c.code == KVPT_RGB24 ? 3 : 4;
        row[x * bpp + 0] = col[2];
        row[x * bpp + 1] = col[1];
        row[x * bpp + 2] = col[0];
        if (bpp == 4) row[x * bpp + 3] = 255;
      }
      rgb.insert(rgb.end(), col, col + 3);
    }
  }
  const size_t dibBytes = size_t(bits - dib.data()) + imageSize;
  std::vector<BYTE> file(14 + dibBytes);
  file[0] = 'B';
  file[1] = 'M';
  Put32(&file[2], DWORD(file.size()));
  Put32(&file[10], DWORD(14 + (bits - dib.data())));
  std::memcpy(&file[14], dib.data(), dibBytes);
  return WriteAll(dir + "/ours_" + c.name + ".bmp", file.data(), file.size()) &&
         WriteAll(dir + "/ours_" + c.name + ".rgb", rgb.data(), rgb.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "write") == 0) {
    const Case cases[] = {
        {"bw1", KVPT_BW1, 2},     {"pal4", KVPT_PAL4, 16},    {"pal8", KVPT_PAL8, 256},
        {"pal8_nopal", KVPT_PAL8, 0}, {"rgb555", KVPT_RGB555, 0}, {"rgb565", KVPT_RGB565, 0},
        {"rgb24", KVPT_RGB24, 0}, {"rgb32", KVPT_RGB32, 0},
    };
    int failed = 0;
    for (const Case& c : cases)
      if (!WriteCase(argv[2], c)) {
        std::printf("cannot write %s\n", c.name);
        ++failed;
      }
    return failed;
  }
  if (argc == 3 && std::strcmp(argv[1], "classify") == 0) {
    std::vector<BYTE> file;
    if (!ReadAll(argv[2], file) || file.size() < 14 + 40 + 12) {
      std::printf("cannot read %s\n", argv[2]);
      return 1;
    }
    const BITMAPINFOHEADER* h = reinterpret_cast<const BITMAPINFOHEADER*>(&file[14]);
    std::printf("code=%d stride=%u offset=%u compressed=%d\n", int(KvGetPixelType(h)), unsigned(KvDibGetStride(h)),
                unsigned(14 + (KvDibGetBitsPtr(h) - &file[14])), int(KvVideo_IsCompressed(h)));
    return 0;
  }
  std::printf("usage: bmptool write <dir> | classify <file>\n");
  return 2;
}
