// Format names: four-character codes as text, compression and format-tag
// names through their tables and canonical maps, sample-type, bit-depth and
// channel texts, the one-line format summary and template descriptions; the
// compression names against what ffprobe and mediainfo call the same formats.
// The program carries the English string table and opens the library on itself.
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "vog_files.h"
#include "vog_paths.h"
#include "vog_tools.h"

#include "kvformatnames.h"
#include "kvkernel.h"
#include "kvtemplate.h"

namespace {

constexpr DWORD Fcc(const char (&c)[5]) {
  return static_cast<DWORD>(static_cast<BYTE>(c[0])) | static_cast<DWORD>(static_cast<BYTE>(c[1])) << 8 |
         static_cast<DWORD>(static_cast<BYTE>(c[2])) << 16 | static_cast<DWORD>(static_cast<BYTE>(c[3])) << 24;
}

class FormatNames : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { KvKernel_Initialize(GetModuleHandleW(nullptr), nullptr); }
};

TEST_F(FormatNames, FourCCPrintString) {
  struct Case {
    DWORD code;
    int cch;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {Fcc("DX50"), 3, L"DX"},        {Fcc("DX50"), 5, L"DX50"},  {Fcc("DX50"), 64, L"DX50"},
      {0x77617200, 8, L"raw"},        {0x00000003, 8, L"?"},      {Fcc("a\x1f" "bc"), 8, L"a?bc"},
      {0, 8, L""},                    {Fcc("YV12"), 1, L""},
  };
  for (const Case& c : cases) {
    wchar_t buf[64];
    std::fill(buf, buf + 64, L'#');
    EXPECT_EQ(KvVideo_FOURCCtoPrintString(c.code, buf, c.cch), buf);
    EXPECT_EQ(std::wstring(buf), c.expected) << std::hex << c.code << " cch " << c.cch;
    wchar_t bufW[64];
    KvVideo_FOURCCtoPrintStringW(c.code, bufW, c.cch);
    EXPECT_EQ(std::wstring(bufW), c.expected);
  }
  wchar_t untouched[2] = {L'#', 0};
  KvVideo_FOURCCtoPrintString(Fcc("DX50"), untouched, 0);
  EXPECT_EQ(untouched[0], L'#');
}

TEST_F(FormatNames, DebugPrintBiCompression) {
  struct Case {
    DWORD code;
    int cch;
    BOOL fcc;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {0, 32, FALSE, L"BI_RGB"},          {3, 32, TRUE, L"BI_BITFIELDS"},  {5, 32, FALSE, L"BI_PNG"},
      {3, 5, FALSE, L"BI_B"},             {6, 32, FALSE, L"?"},            {Fcc("MJPG"), 32, TRUE, L"FCC('MJPG')"},
      {Fcc("MJPG"), 12, TRUE, L"MJPG"},   {Fcc("MJPG"), 32, FALSE, L"MJPG"},
  };
  for (const Case& c : cases) {
    wchar_t buf[32];
    EXPECT_EQ(KvVideo_DebugPrintBiCompression(c.code, buf, c.cch, c.fcc), buf);
    EXPECT_EQ(std::wstring(buf), c.expected) << std::hex << c.code;
  }
}

TEST_F(FormatNames, VideoCompressionNames) {
  struct Case {
    DWORD code;
    BOOL plain;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {0, FALSE, L"RGB (Uncompressed)"},     {0, TRUE, L"RGB"},
      {Fcc("WMV3"), FALSE, L"Windows Media Video 9"}, {Fcc("WMV3"), TRUE, L"WMV"},
      {Fcc("YV12"), TRUE, L"YUV"},           {Fcc("YV12"), FALSE, L"YUV"},
      {Fcc("mp43"), TRUE, L"MPEG 4"},        {Fcc("RLE8"), TRUE, L"RLE (8 bit)"},
      {Fcc("Y800"), TRUE, L"Greyscale"},     {Fcc("cfhd"), TRUE, L"CineForm HDV"},
      {0x77617200, TRUE, L"RGB"},            {Fcc("m2ts"), TRUE, L"MPEG 2"},
      {Fcc("ABCD"), FALSE, L"'ABCD' Compression"}, {Fcc("ABCD"), TRUE, L"ABCD"},
  };
  for (const Case& c : cases) {
    wchar_t buf[64];
    EXPECT_EQ(KvVideo_GetCompressionTypeName(c.code, buf, 64, c.plain), S_OK);
    EXPECT_EQ(std::wstring(buf), c.expected) << std::hex << c.code << " plain " << c.plain;
  }
  EXPECT_EQ(KvVideo_ConvertToCanonicalCompressionFormat(Fcc("YUY2")), Fcc("YUYV"));
  EXPECT_EQ(KvVideo_ConvertToCanonicalCompressionFormat(Fcc("DIB ")), 0u);
  EXPECT_EQ(KvVideo_ConvertToCanonicalCompressionFormat(Fcc("XVID")), Fcc("XVID"));
}

TEST_F(FormatNames, AudioFormatTagNames) {
  struct Case {
    DWORD tag;
    BOOL shortForm;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {0x0055, FALSE, L"MPEG Layer 3"}, {0x0055, TRUE, L"MP3"},          {0x0001, FALSE, L"PCM"},
      {0x00FF, TRUE, L"AAC"},           {0x706D, FALSE, L"AAC"},          {0x6750, FALSE, L"Ogg Vorbis 2"},
      {0x6750, TRUE, L"Ogg"},           {0x0017, TRUE, L"ADPCM"},         {0xAAC0, TRUE, L"LC-AAC"},
      {0xAAC2, TRUE, L"HE-AAC V2"},     {0xFE02, FALSE, L"PCM Big Endian"}, {0x1234, TRUE, L"0x1234"},
      {0xabc, FALSE, L"'0x0ABC' Compression"},
  };
  for (const Case& c : cases) {
    wchar_t buf[64];
    EXPECT_EQ(KvAudio_GetCompressionTypeName(c.tag, buf, 64, c.shortForm), S_OK);
    EXPECT_EQ(std::wstring(buf), c.expected) << std::hex << c.tag;
  }
  EXPECT_EQ(KvAudio_ConvertToCanonicalWaveFormatTag(0x2003), 0x2002u);
  EXPECT_EQ(KvAudio_ConvertToCanonicalWaveFormatTag(0x0055), 0x0055u);
}

TEST_F(FormatNames, SampleTypeAndBitDepthTexts) {
  struct Case {
    KVSAMPLETYPE type;
    const wchar_t* sampleType;
    const wchar_t* significant;
    const wchar_t* container;
  };
  const Case cases[] = {
      {KVST_NONE, L"", L"", L""},
      {KVST_U8, L"8 Bit", L"8 Bit", L"8 Bit"},
      {KVST_S24, L"24 Bit", L"24 Bit", L"24 Bit"},
      {KVST_FLOAT, L"32 Bit (IEEE Float)", L"24 Bit", L"32 Bit"},
      {KVST_DOUBLE, L"64 Bit (IEEE Float)", L"53 Bit", L"64 Bit"},
      {KVST_S24IN32, L"24 Bit (Unpacked)", L"24 Bit", L"24 Bit"},
      {KVST_S8, L"8 Bit (Signed)", L"8 Bit", L"8 Bit"},
      {KVST_S24BE, L"24 Bit (MAC)", L"24 Bit", L"24 Bit"},
      {KVST_FE03_16, L"16 Bit (RA)", L"16 Bit", L"32 Bit"},
      {static_cast<KVSAMPLETYPE>(77), L"", L"", L""},
  };
  for (const Case& c : cases) {
    wchar_t buf[64] = L"stale";
    EXPECT_EQ(std::wstring(KvAudio_GetSampleTypeText(c.type, buf, 64)), c.sampleType) << c.type;
    wcscpy(buf, L"stale");
    EXPECT_EQ(std::wstring(KvAudio_GetBitDepthText(c.type, buf, 64, TRUE)), c.significant) << c.type;
    EXPECT_EQ(std::wstring(KvAudio_GetBitDepthText(c.type, buf, 64, FALSE)), c.container) << c.type;
  }
  _kvwaveformat f;
  f.Init(48000, KVST_DOUBLE, 2, 0, 40);
  wchar_t buf[64];
  EXPECT_EQ(std::wstring(KvAudio_GetBitDepthText(&f, buf, 64, TRUE)), L"53 Bit");
  EXPECT_EQ(std::wstring(KvAudio_GetSampleTypeText(&f, buf, 64)), L"64 Bit (IEEE Float)");
}

TEST_F(FormatNames, ChannelsTexts) {
  struct Case {
    DWORD channels, mask;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {1, 0, L"Mono"},   {2, 0x3, L"Stereo"},  {6, 0x3F, L"5.1"},       {6, 0x60F, L"5.1"},
      {8, 0xFF, L"7.1"}, {8, 0x63F, L"7.1"},   {6, 0x33, L"6 Channel"}, {3, 0, L"3 Channel"},
  };
  for (const Case& c : cases) {
    wchar_t buf[64];
    EXPECT_EQ(std::wstring(KvAudio_GetChannelsText(c.channels, c.mask, buf, 64)), c.expected) << c.mask;
  }
  // The record form: a zero mask stands for the first positions.
  _kvwaveformat f;
  f.Init(48000, KVST_S16, 6, 0, 40);
  wchar_t buf[64];
  EXPECT_EQ(std::wstring(KvAudio_GetChannelsText(&f, buf, 64)), L"5.1");
  f.Init(48000, KVST_S16, 6, 0x33 | 0x100, 40);
  EXPECT_EQ(std::wstring(KvAudio_GetChannelsText(&f, buf, 64)), L"6 Channel");
}

TEST_F(FormatNames, FormatSummary) {
  _kvwaveformat pcm;
  pcm.Init(44100, KVST_S16, 2, 0, 40);
  _kvwaveformat flt;
  flt.Init(96000, KVST_FLOAT, 1, 0, 40);
  _kvwaveformat mp3;
  mp3.InitAsWfx(0x55, 48000, 0, 2, 0, 40);
  mp3.nAvgBytesPerSec = 16000;  // 128 kbps
  _kvwaveformat aac;
  aac.InitAsWfx(0xAAC0, 22050, 16, 1, 0, 40);
  struct Case {
    const _kvwaveformat* fmt;
    DWORD flags;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {&pcm, 0, L"44,100 Hz, 16 Bit, Stereo, PCM"},
      {&pcm, KVFMTTEXT_BIT_DEPTH, L"44,100 Hz, 16 Bit, Stereo"},
      {&flt, 0, L"96,000 Hz, 32 Bit (IEEE Float), Mono, Float"},
      {&flt, KVFMTTEXT_LONG_TAG_NAME, L"96,000 Hz, 32 Bit (IEEE Float), Mono, IEEE Float"},
      {&flt, KVFMTTEXT_BIT_DEPTH, L"96,000 Hz, 24 Bit, Mono"},
      {&mp3, KVFMTTEXT_BIT_RATE, L"128 Kbps, 48,000 Hz, Stereo, MP3"},
      {&mp3, KVFMTTEXT_BIT_RATE | KVFMTTEXT_NO_TAG_NAME, L"128 Kbps, 48,000 Hz, Stereo"},
      {&mp3, KVFMTTEXT_COMPRESSED_AS_PCM, L"48,000 Hz, 16 Bit, Stereo, PCM"},
      {&aac, KVFMTTEXT_BIT_RATE, L"22,050 Hz, 16 Bit, Mono, LC-AAC"},
  };
  for (const Case& c : cases) {
    wchar_t buf[128];
    EXPECT_EQ(std::wstring(KvAudio_GetFormatText(c.fmt, buf, 128, c.flags)), c.expected) << c.flags;
  }
  // A short buffer keeps a terminated prefix.
  wchar_t small[8];
  KvAudio_GetFormatText(&pcm, small, 8, 0);
  EXPECT_EQ(std::wstring(small), L"44,100 ");
}

// A template record in a buffer of its basic size.
struct Template {
  alignas(8) BYTE bytes[kKvTemplateBasicSize] = {};
  tagKVTEMPLATExV2* operator->() { return reinterpret_cast<tagKVTEMPLATExV2*>(bytes); }
  const tagKVTEMPLATExV2* get() const { return reinterpret_cast<const tagKVTEMPLATExV2*>(bytes); }
};

std::wstring Describe(const Template& t, DWORD parts = 0, int cch = 512) {
  std::vector<wchar_t> buf(static_cast<size_t>(cch) + 1, L'#');
  EXPECT_EQ(KvFio_MakeTemplateDescription(t.get(), parts, buf.data(), cch), S_OK);
  return buf.data();
}

TEST_F(FormatNames, TemplateDescriptions) {
  Template av;
  av->cbSize = kKvTemplateBasicSize;
  av->nAudioStreams = 1;
  reinterpret_cast<_kvwaveformat*>(av->wfSource)->Init(48000, KVST_S16, 2, 0, 40);
  av->nVideoStreams = 1;
  av->videoExt.frameRate = 29.97002997;
  av->videoExt.fieldOrder = 2;
  av->videoExt.pixelAspect = 0.9;
  av->bihOutput.biWidth = 720;
  av->bihOutput.biHeight = 480;
  av->bihOutput.biCompression = Fcc("dvsd");
  av->dwVideoFlags = 0x10 | kKvTemplateVideoPulldown;
  av->llVideoDataRate = 3600000;
  av->dwOptions = KVFIO_TEMPLATE_OPTION_NO_INTERLEAVE | KVFIO_TEMPLATE_OPTION_EXTERNAL_META;
  EXPECT_EQ(Describe(av),
            L"Audio: 48,000 Hz, 16 Bit, Stereo, PCM\r\n"
            L"Video: 29.970 fps inserting 3-2 pulldown, 720x480 Lower field first, DV, 28.8 Mbps\r\n"
            L"Pixel Aspect Ratio: 0.900\r\n"
            L", No Interleave, External Metadata\r\n");
  // The audio part alone: the option that needs both kinds is left out.
  EXPECT_EQ(Describe(av, kKvTemplatePartAudio), L"Audio: 48,000 Hz, 16 Bit, Stereo, PCM\r\n, External Metadata\r\n");

  Template video;
  video->nVideoStreams = KVFIO_MULTISTREAM;
  video->dwVideoFlags = 0x20 | 0x3;
  video->videoExt.frameRate = 0;
  video->videoExt.fieldOrder = 9;
  EXPECT_EQ(Describe(video), L"Video: Multistream, Project Frame Rate, Project Frame Size, VBR\r\n");
  video->videoExt.frameRate = 25;
  video->nVideoStreams = 3;
  video->bihSource.biWidth = 640;
  video->bihSource.biHeight = 360;
  video->videoExt.fieldOrder = 0;
  video->dwVideoFlags = 0x3;
  EXPECT_EQ(Describe(video), L"Video: 3 Streams, 25 fps inserting 2-3-3-2 pulldown, 640x360 Progressive\r\n");

  // The second audio block, when filled, is the one described.
  Template two;
  two->nAudioStreams = 1;
  reinterpret_cast<_kvwaveformat*>(two->wfSource)->Init(44100, KVST_FLOAT, 2, 0, 40);
  _kvwaveformat* out = reinterpret_cast<_kvwaveformat*>(two->wfOutput);
  out->InitAsWfx(0x55, 44100, 0, 2, 0, 96);
  out->nAvgBytesPerSec = 24000;
  EXPECT_EQ(Describe(two), L"Audio: 192 Kbps, 44,100 Hz, Stereo, MP3\r\n");
  // No room: a truncated, terminated text.
  EXPECT_EQ(Describe(two, 0, 10), L"Audio: 19");
  EXPECT_EQ(Describe(Template()), L"");

  wchar_t buf[4] = L"abc";
  EXPECT_EQ(KvFio_MakeTemplateDescription(nullptr, 0, buf, 4), E_POINTER);
  EXPECT_EQ(KvFio_MakeTemplateDescription(two.get(), 0, buf, 0), E_INVALIDARG);
  EXPECT_EQ(std::wstring(buf), L"abc");
}

}  // namespace

namespace {

// Lower-case letters and digits only: "A-Law" and "ALaw" compare equal.
std::string Squeeze(const std::string& text) {
  std::string out;
  for (unsigned char c : text)
    if (std::isalnum(c)) out.push_back(char(std::tolower(c)));
  return out;
}

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; *text; ++text) out.push_back(*text < 0x80 ? char(*text) : '?');
  return out;
}

// True when `name` holds one of the `|`-separated terms (both squeezed).
bool NamesOneOf(const std::string& name, const std::string& terms) {
  std::stringstream list(terms);
  std::string term;
  while (std::getline(list, term, '|'))
    if (Squeeze(name).find(Squeeze(term)) != std::string::npos) return true;
  return false;
}

struct ToolNames {
  std::string ffprobe, mediainfo;
};

// FIXTURES/formatnames/tools.tsv by kind and code as ffprobe printed it.
std::map<std::string, ToolNames> LoadToolNames() {
  std::map<std::string, ToolNames> names;
  std::string text;
  if (!vogtest::ReadText(vogtest::FixturePath("formatnames/tools.tsv"), text)) return names;
  std::stringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::stringstream cells(line);
    std::string cell;
    while (std::getline(cells, cell, '\t')) fields.push_back(cell);
    if (fields.size() >= 4) names[fields[0] + " " + fields[1]] = ToolNames{fields[2], fields[3]};
  }
  return names;
}

}  // namespace

// Each format below was made by ffmpeg with that tag or code; ffprobe and
// mediainfo name it, and our long (audio) or preferred (video) name must
// name the same format: each of the three names holds one of the row's terms.
// Where ours differ on purpose, the row gives our exact text and the reason,
// and only the two tools are checked against the terms.
TEST_F(FormatNames, NamesAgreeWithFfprobeAndMediainfo) {
  const std::map<std::string, ToolNames> tools = LoadToolNames();
  if (tools.empty()) VOG_TOOL_MISSING("ffmpeg/ffprobe/mediainfo") << "formatnames/tools.tsv missing";
  struct Row {
    bool audio;
    DWORD code;
    const char* toolKey;  // the code as ffprobe prints it
    const char* terms;
    bool ffprobeGeneric;  // ffprobe calls every uncompressed picture "raw video"
    const wchar_t* ours;  // our exact text where it differs on purpose, else null
    const char* why;
  };
  const Row rows[] = {
      {true, 0x0001, "0x0001", "PCM", false, nullptr, nullptr},
      {true, 0x0002, "0x0002", "ADPCM", false, nullptr, nullptr},
      {true, 0x0003, "0x0003", "float", false, nullptr, nullptr},
      {true, 0x0006, "0x0006", "A-law", false, nullptr, nullptr},
      {true, 0x0007, "0x0007", "u-law", false, nullptr, nullptr},
      {true, 0x0050, "0x0050", "MPEG audio", false, nullptr, nullptr},
      {true, 0x0055, "0x0055", "layer 3", false, nullptr, nullptr},
      {true, 0x2000, "0x2000", "AC-3", false, nullptr, nullptr},
      {true, 0x0160, "0x0160", "Windows Media Audio|WMA", false, L"MS Audio",
       "the first version's own name (\"MSAudio\"), as the product lists it"},
      {true, 0x0161, "0x0161", "Windows Media Audio|WMA", false, nullptr, nullptr},
      {true, 0x00FF, "0x00ff", "AAC|Advanced Audio Coding", false, nullptr, nullptr},
      {true, 0xF1AC, "0xf1ac", "FLAC|Free Lossless Audio Codec", false, nullptr, nullptr},
      {true, 0x2001, "0x2001", "DTS", false, nullptr, nullptr},
      {false, Fcc("MJPG"), "MJPG", "JPEG", false, nullptr, nullptr},
      {false, Fcc("MSVC"), "MSVC", "Microsoft Video 1|MS Video 1", false, nullptr, nullptr},
      {false, Fcc("HFYU"), "HFYU", "HuffYUV", false, L"Huffman YUV", "the coding spelled out"},
      {false, Fcc("YUY2"), "YUY2", "YUV", true, nullptr, nullptr},
      {false, Fcc("UYVY"), "UYVY", "YUV", true, nullptr, nullptr},
      {false, Fcc("I420"), "I420", "YUV", true, nullptr, nullptr},
      {false, Fcc("Y800"), "Y800", "grey|gray", true, nullptr, nullptr},
      {false, 0, "[0][0][0][0]", "RGB", true, nullptr, nullptr},
      {false, Fcc("WMV1"), "WMV1", "Windows Media Video 7|WMV1|WMV 7", false, nullptr, nullptr},
      {false, Fcc("WMV2"), "WMV2", "Windows Media Video 8|WMV2|WMV 8", false, nullptr, nullptr},
      {false, Fcc("XVID"), "XVID", "MPEG-4|Xvid", false, nullptr, nullptr},
      {false, Fcc("DIVX"), "DIVX", "MPEG-4|DivX", false, nullptr, nullptr},
      {false, Fcc("DX50"), "DX50", "MPEG-4|DivX", false, nullptr, nullptr},
      {false, Fcc("MP42"), "MP42", "MPEG-4|MPEG 4", false, nullptr, nullptr},
      {false, Fcc("MP43"), "MP43", "MPEG-4|MPEG 4", false, nullptr, nullptr},
      {false, Fcc("dvsd"), "dvsd", "DV", false, nullptr, nullptr},
      {false, Fcc("CFHD"), "CFHD", "CineForm", false, nullptr, nullptr},
      {false, Fcc("v210"), "v210", "YUV|uncompressed", false, nullptr, nullptr},
      {false, Fcc("SVQ1"), "SVQ1", "Sorenson", false, nullptr, nullptr},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.audio ? "audio " : "video ") + r.toolKey);
    auto it = tools.find(std::string(r.audio ? "audio " : "video ") + r.toolKey);
    ASSERT_NE(it, tools.end()) << "ffmpeg made no file of this format";
    if (!r.ffprobeGeneric) EXPECT_TRUE(NamesOneOf(it->second.ffprobe, r.terms)) << "ffprobe: " << it->second.ffprobe;
    EXPECT_TRUE(NamesOneOf(it->second.mediainfo, r.terms)) << "mediainfo: " << it->second.mediainfo;
    wchar_t name[96] = L"";
    const HRESULT hr = r.audio ? KvAudio_GetCompressionTypeName(r.code, name, 96, FALSE)
                               : KvVideo_GetCompressionTypeName(r.code, name, 96, FALSE);
    EXPECT_EQ(S_OK, hr);
    if (r.ours) {
      EXPECT_EQ(std::wstring(r.ours), name) << r.why;
    } else {
      EXPECT_TRUE(NamesOneOf(Narrow(name), r.terms)) << "ours: " << Narrow(name);
    }
  }
}
