// Summary item lists: editing, comparing and merging in memory; loading the
// "INFO" list ffmpeg writes (checked against Python's reading of the same
// file); saving "INFO" and "UNFO" lists into WAV and Wave64 files, which the
// oracle script then has ffprobe, exiftool and mediainfo read back; hostile
// sub-chunk sizes.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "kvriff.h"
#include "kvsummary.h"
#include "metariff_test_util.h"
#include "vog_tools.h"

using namespace metariff;

namespace {

const DWORD kINAM = Fcc("INAM"), kIART = Fcc("IART"), kICMT = Fcc("ICMT"), kICRD = Fcc("ICRD"),
            kIGNR = Fcc("IGNR"), kICOP = Fcc("ICOP");

// A list made from (id, text) pairs; nullptr texts stay null.
struct List {
  KvSummary s{0, nullptr};
  List() = default;
  List(std::initializer_list<std::pair<const char*, const wchar_t*>> items) {
    for (auto& i : items) Add(i.first, i.second);
  }
  ~List() { KvSummary_Free(&s); }
  void Add(const char* id, const wchar_t* text) {
    DWORD n = s.count;
    // SetItem keeps ids unique; a second id is appended through Merge-free growth.
    EXPECT_EQ(S_OK, KvSummary_SetItem(&s, Fcc(id), text));
    EXPECT_EQ(n + 1, s.count);
  }
  std::string Dump() const {
    std::string out;
    for (DWORD i = 0; i < s.count; ++i) {
      out += std::string(reinterpret_cast<const char*>(&s.items[i].id), 4) + "=";
      if (!s.items[i].text) {
        out += "(null)";
      } else {
        for (const wchar_t* p = s.items[i].text; *p; ++p) out += *p < 128 ? static_cast<char>(*p) : '?';
      }
      out += ";";
    }
    return out;
  }
};

TEST(SummaryList, SetItemKeepsIdsUniqueAndReplacesOrEmptiesTexts) {
  List l{{"INAM", L"one"}, {"IART", L"two"}};
  EXPECT_EQ(E_INVALIDARG, KvSummary_SetItem(&l.s, 0, L"x"));
  EXPECT_EQ(S_OK, KvSummary_SetItem(&l.s, kINAM, L"a much longer title than before"));
  EXPECT_EQ(2u, l.s.count);
  EXPECT_STREQ(L"a much longer title than before", KvSummary_GetItemText(&l.s, kINAM));
  // A null text empties the item but keeps it.
  EXPECT_EQ(S_OK, KvSummary_SetItem(&l.s, kIART, nullptr));
  EXPECT_EQ(2u, l.s.count);
  EXPECT_EQ(nullptr, KvSummary_GetItemText(&l.s, kIART));
  EXPECT_EQ(1, KvSummary_GetItemIndex(&l.s, kIART));
  EXPECT_EQ(static_cast<HRESULT>(0x8004E00A), KvSummary_GetItemIndex(&l.s, kICMT));
  EXPECT_EQ(nullptr, KvSummary_GetItemText(&l.s, kICMT));
  // A new id with a null text is appended with a null text.
  EXPECT_EQ(S_OK, KvSummary_SetItem(&l.s, kICMT, nullptr));
  EXPECT_EQ("INAM=a much longer title than before;IART=(null);ICMT=(null);", l.Dump());
  EXPECT_EQ(S_OK, KvSummary_Free(&l.s));
  EXPECT_EQ(0u, l.s.count);
  EXPECT_EQ(nullptr, l.s.items);
  EXPECT_EQ(S_OK, KvSummary_Free(&l.s));
}

TEST(SummaryList, CompareLooksAtTextsByPositionOnly) {
  struct Case {
    List a, b;
    BOOL equal;
  };
  Case cases[] = {
      {{{"INAM", L"x"}, {"IART", L"y"}}, {{"ICMT", L"x"}, {"IGNR", L"y"}}, TRUE},  // ids not compared
      {{{"INAM", L"x"}, {"IART", L"y"}}, {{"IART", L"y"}, {"INAM", L"x"}}, FALSE},  // order matters
      {{{"INAM", L"x"}}, {{"INAM", L"x"}, {"IART", L"y"}}, FALSE},
      {{{"INAM", nullptr}}, {{"INAM", nullptr}}, TRUE},
      {{{"INAM", nullptr}}, {{"INAM", L""}}, FALSE},
      {{{"INAM", L"abc"}}, {{"INAM", L"abd"}}, FALSE},
      {{}, {}, TRUE},
  };
  for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
    EXPECT_EQ(cases[i].equal, KvSummary_Compare(&cases[i].a.s, &cases[i].b.s)) << "case " << i;
    EXPECT_EQ(cases[i].equal, KvSummary_Compare(&cases[i].b.s, &cases[i].a.s)) << "case " << i;
  }
  List one{{"INAM", L"x"}};
  EXPECT_FALSE(KvSummary_Compare(&one.s, nullptr));
}

TEST(SummaryList, CopyIsDeep) {
  List src{{"INAM", L"title"}, {"IART", nullptr}, {"ICMT", L"comment"}};
  List dst;
  ASSERT_EQ(S_OK, KvSummary_Copy(&dst.s, &src.s));
  EXPECT_TRUE(KvSummary_Compare(&src.s, &dst.s));
  EXPECT_NE(src.s.items, dst.s.items);
  EXPECT_NE(KvSummary_GetItemText(&src.s, kINAM), KvSummary_GetItemText(&dst.s, kINAM));
  KvSummary_SetItem(&src.s, kINAM, L"changed");
  EXPECT_STREQ(L"title", KvSummary_GetItemText(&dst.s, kINAM));
}

TEST(SummaryList, MergeCopiesOrMovesWithAndWithoutReplace) {
  struct Case {
    BOOL replace, move;
    std::string dst, src;  // after the merge
  };
  // dst {Y: dst-y, Z: z}, src {X: x, Y: src-y}
  const Case cases[] = {
      {FALSE, FALSE, "IART=dst-y;ICMT=z;INAM=x;", "INAM=x;IART=src-y;"},
      {TRUE, FALSE, "IART=src-y;ICMT=z;INAM=x;", "INAM=x;IART=src-y;"},
      {FALSE, TRUE, "IART=dst-y;ICMT=z;INAM=x;", ""},
      {TRUE, TRUE, "IART=src-y;ICMT=z;INAM=x;", ""},
  };
  for (const Case& c : cases) {
    List dst{{"IART", L"dst-y"}, {"ICMT", L"z"}};
    List src{{"INAM", L"x"}, {"IART", L"src-y"}};
    EXPECT_EQ(S_OK, KvSummary_Merge(&dst.s, &src.s, c.replace, c.move));
    EXPECT_EQ(c.dst, dst.Dump()) << "replace " << c.replace << " move " << c.move;
    EXPECT_EQ(c.src, src.Dump()) << "replace " << c.replace << " move " << c.move;
  }
  // Moving into an empty list hands the array over.
  List empty;
  List src{{"INAM", L"x"}, {"IART", L"y"}};
  KvSummaryItem* array = src.s.items;
  EXPECT_EQ(S_OK, KvSummary_Merge(&empty.s, &src.s, FALSE, TRUE));
  EXPECT_EQ(array, empty.s.items);
  EXPECT_EQ("INAM=x;IART=y;", empty.Dump());
  EXPECT_EQ(0u, src.s.count);
  // An empty source changes nothing.
  EXPECT_EQ(S_OK, KvSummary_Merge(&empty.s, &src.s, TRUE, TRUE));
  EXPECT_EQ("INAM=x;IART=y;", empty.Dump());
}

// Saves a list at the end of a fresh RIFF file and gives the file's bytes.
std::vector<uint8_t> SaveToFile(ScratchDir& dir, const KvSummary* s, bool wide, DWORD* written, HRESULT* hr) {
  std::wstring path = MakeFile(dir, L"save.wav", Bytes().Tag("RIFF").U32(4).Tag("WAVE").b);
  {
    Handle h(path);
    h.SetPos(12);
    *hr = wide ? KvSummary_SaveUNFO(h, s, written) : KvSummary_Save(h, s, written);
    EXPECT_EQ(12u + *written, h.Pos()) << "the file stands after the list";
  }
  return ReadAll(path);
}

TEST(SummaryList, SaveLayoutsPadOddTextsAndSkipNullTexts) {
  ScratchDir dir;
  DWORD written = 99;
  HRESULT hr = E_FAIL;
  {
    List l;
    std::vector<uint8_t> b = SaveToFile(dir, &l.s, false, &written, &hr);
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(0u, written);
    EXPECT_EQ(12u, b.size()) << "an empty list writes nothing";
  }
  {
    List l{{"INAM", nullptr}};
    std::vector<uint8_t> b = SaveToFile(dir, &l.s, false, &written, &hr);
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(12u, written);
    EXPECT_EQ(Bytes().Tag("RIFF").U32(4).Tag("WAVE").Tag("LIST").U32(4).Tag("INFO").b, b);
  }
  {
    List l{{"INAM", L"abcd"}, {"IART", nullptr}, {"ICMT", L"xy"}};
    std::vector<uint8_t> b = SaveToFile(dir, &l.s, false, &written, &hr);
    EXPECT_EQ(S_OK, hr);
    Bytes want;
    want.Tag("RIFF").U32(4).Tag("WAVE").Tag("LIST").U32(4 + 14 + 12).Tag("INFO");
    want.Tag("INAM").U32(5);
    want.b.insert(want.b.end(), {'a', 'b', 'c', 'd', 0, 0});
    want.Tag("ICMT").U32(3);
    want.b.insert(want.b.end(), {'x', 'y', 0, 0});
    EXPECT_EQ(want.b, b);
    EXPECT_EQ(8u + 4 + 14 + 12, written);
  }
  {
    List l{{"INAM", L"ab"}};
    std::vector<uint8_t> b = SaveToFile(dir, &l.s, true, &written, &hr);
    EXPECT_EQ(S_OK, hr);
    Bytes want;
    want.Tag("RIFF").U32(4).Tag("WAVE").Tag("LIST").U32(4 + 8 + 6).Tag("UNFO").Tag("INAM").U32(6);
    want.b.insert(want.b.end(), {'a', 0, 'b', 0, 0, 0});
    EXPECT_EQ(want.b, b);
  }
}

// Loads the list at the given offset of a file (the offset of "LIST").
HRESULT LoadAt(const std::wstring& path, uint64_t listOffset, KvSummary* out, bool wide) {
  Handle h(path, false);
  h.SetPos(listOffset + 4);
  DWORD size = 0;
  ReadFile(h, &size, 4, nullptr, nullptr);
  h.SetPos(listOffset + 12);
  DWORD listBytes = size >= 4 ? size - 4 : 0;
  return wide ? KvSummary_LoadUNFO(h, out, &listBytes) : KvSummary_Load(h, out, &listBytes);
}

TEST(SummaryList, SavedListsLoadBackEqualInBothForms) {
  ScratchDir dir;
  const wchar_t* wideText = L"Caf\u00e9 \u65e5\u672c \u0416";  // beyond the ANSI code page
  List l{{"INAM", L"abcd"}, {"IART", L"x"}, {"ICMT", L""}, {"IGNR", wideText}};
  for (bool wide : {false, true}) {
    DWORD written = 0;
    HRESULT hr = E_FAIL;
    std::vector<uint8_t> b = SaveToFile(dir, &l.s, wide, &written, &hr);
    ASSERT_EQ(S_OK, hr);
    std::wstring path = MakeFile(dir, wide ? L"w.bin" : L"a.bin", b);
    List back;
    ASSERT_EQ(S_OK, LoadAt(path, 12, &back.s, wide));
    ASSERT_EQ(4u, back.s.count);
    EXPECT_EQ(l.s.items[0].id, back.s.items[0].id);
    EXPECT_STREQ(L"abcd", back.s.items[0].text);
    EXPECT_STREQ(L"x", back.s.items[1].text);
    EXPECT_STREQ(L"", back.s.items[2].text);
    if (wide) {
      EXPECT_STREQ(wideText, back.s.items[3].text);
      EXPECT_TRUE(KvSummary_Compare(&l.s, &back.s));
    } else {
      // The ANSI form keeps the Latin letter, the rest becomes the code page's default character.
      EXPECT_EQ(L'\u00e9', back.s.items[3].text[3]);
    }
  }
}

TEST(SummaryList, LoadsTheListFfmpegWrote) {
  if (!HaveFixtures()) VOG_TOOL_MISSING("ffmpeg") << "fixtures missing";
  std::ifstream in(rifftest::Narrow(FixturePath("metariff/info.expected")).c_str());
  std::vector<std::string> expected;
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) expected.push_back(line);
  ASSERT_GE(expected.size(), 6u);

  Handle h(FixturePath("metariff/info.wav"), false);
  ASSERT_TRUE(h.ok());
  DWORD listBytes = 0;
  ASSERT_EQ(S_OK, riff_FindListChunkFromStart(h, KVRIFF_FOURCC('I', 'N', 'F', 'O'), &listBytes));
  uint64_t listStart = h.Pos();
  List l;
  ASSERT_EQ(S_OK, KvSummary_Load(h, &l.s, &listBytes));
  ASSERT_EQ(expected.size(), l.s.count);
  for (DWORD i = 0; i < l.s.count; ++i) {
    std::string got = std::string(reinterpret_cast<const char*>(&l.s.items[i].id), 4) + "=";
    for (const wchar_t* p = l.s.items[i].text; p && *p; ++p) got += static_cast<char>(*p);
    EXPECT_EQ(expected[i], got);
  }
  EXPECT_EQ(listStart + listBytes, h.Pos()) << "the file stands after the list";

  // One text straight from the file: the position is kept.
  DWORD content = 0;
  h.SetPos(0);
  ASSERT_EQ(S_OK, riff_ReadFileID(h, &content, nullptr));
  wchar_t buf[64];
  EXPECT_EQ(S_OK, KvSummary_GetStringFromFile(h, kINAM, buf, 64, content));
  EXPECT_STREQ(L"Night Train", buf);
  EXPECT_EQ(12u, h.Pos());
  EXPECT_EQ(S_OK, KvSummary_GetStringFromFile(h, kIART, buf, 5, content));
  EXPECT_STREQ(L"The ", buf) << "cut to the buffer, terminated";
  EXPECT_EQ(static_cast<HRESULT>(0x8004E00A), KvSummary_GetStringFromFile(h, Fcc("IKEY"), buf, 64, content));
  EXPECT_EQ(12u, h.Pos());
}

// Writes the lists the oracle script reads back with ffprobe, exiftool and
// mediainfo: into a copy of ffmpeg's plain WAV (appended after the data)
// and, as a Wave64 "LIST" chunk, into its Wave64 form.
TEST(SummaryList, SavedIntoWavAndWave64ForTheOracles) {
  if (!HaveFixtures()) VOG_TOOL_MISSING("ffmpeg") << "fixtures missing";
  List l{{"INAM", L"Saved Title"}, {"IART", L"Saved Artist"}, {"ICMT", L"four"},
         {"ICRD", L"2025"},        {"IGNR", L"Jazz"},         {"ICOP", L"C 2025 Us"}};
  {
    std::wstring path = CopyToWritten("plain.wav", "info_saved.wav");
    Handle h(path);
    ASSERT_TRUE(h.ok());
    DWORD content = 0;
    ASSERT_EQ(S_OK, riff_ReadFileID(h, &content, nullptr));
    h.SetPos(12 + content);
    DWORD written = 0;
    ASSERT_EQ(S_OK, KvSummary_Save(h, &l.s, &written));
    ASSERT_EQ(S_OK, riff_UpdateRIFFSize(h, written));
    h.Close();
    List back;
    ASSERT_EQ(S_OK, LoadAt(path, 12 + content, &back.s, false));
    EXPECT_TRUE(KvSummary_Compare(&l.s, &back.s));
    EXPECT_EQ(l.Dump(), back.Dump());
  }
  {
    std::wstring path = CopyToWritten("plain.w64", "info_saved.w64");
    Handle h(path);
    ASSERT_TRUE(h.ok());
    uint64_t content = 0;
    ASSERT_EQ(S_OK, riff64_ReadFileID(h, &content, nullptr));
    uint64_t start = 40 + content;
    // The list's "LIST" and size go where the chunk header's GUID tail and
    // size will be: the list type then starts the chunk's payload.
    h.SetPos(start + 16);
    DWORD written = 0;
    ASSERT_EQ(S_OK, KvSummary_Save(h, &l.s, &written));
    uint64_t payload = written - 8;
    uint8_t zeros[8] = {0};
    DWORD put = 0;
    WriteFile(h, zeros, static_cast<DWORD>((8 - (payload & 7)) & 7), &put, nullptr);
    h.SetPos(start);
    ASSERT_EQ(S_OK, riff64_WriteChunkHeader(h, KVRIFF64_LIST, payload));
    uint64_t grown = 24 + ((payload + 7) & ~uint64_t(7));
    ASSERT_EQ(S_OK, riff64_UpdateRIFFSize(h, static_cast<int64_t>(grown)));
    EXPECT_EQ(start + grown, h.Length());
    // Read back through the 64-bit search.
    uint64_t size = 0;
    int64_t remaining = static_cast<int64_t>(content + grown);
    h.SetPos(40);
    ASSERT_EQ(S_OK, riff64_FindChunkHeader(h, KVRIFF64_LIST, &size, &remaining));
    EXPECT_EQ(payload, size);
    EXPECT_EQ(start + 24, h.Pos());
    h.SetPos(start + 24 + 4);
    DWORD listBytes = static_cast<DWORD>(payload - 4);
    List back;
    ASSERT_EQ(S_OK, KvSummary_Load(h, &back.s, &listBytes));
    EXPECT_EQ(l.Dump(), back.Dump());
  }
}

TEST(SummaryList, WideListWithAnOddSizeKeepsWholeCharacters) {
  ScratchDir dir;
  Bytes b;
  b.Tag("RIFF").U32(0).Tag("WAVE").Tag("LIST").U32(4 + 8 + 6).Tag("UNFO").Tag("INAM").U32(5);
  b.b.insert(b.b.end(), {'a', 0, 'b', 0, 'c', 0});
  std::wstring path = MakeFile(dir, L"odd.wav", b.FixRIFF().b);
  List l;
  ASSERT_EQ(S_OK, LoadAt(path, 12, &l.s, true));
  ASSERT_EQ(1u, l.s.count);
  EXPECT_STREQ(L"ab", l.s.items[0].text);
}

// Hostile "INFO" lists: every case ends cleanly, with the list freed on a
// failure and no read outside the file.
TEST(SummaryList, HostileSubChunkSizesGiveCleanErrors) {
  ScratchDir dir;
  struct Case {
    const char* name;
    std::vector<uint8_t> body;  // the sub-chunks
    DWORD listBytes;            // as the caller passes it (0: body size)
    HRESULT load;
    DWORD count;
    const wchar_t* text;  // of the first item when one is loaded
  };
  auto sub = [](const char* id, uint32_t size, const std::string& data) {
    Bytes b;
    b.Tag(id).U32(size);
    b.b.insert(b.b.end(), data.begin(), data.end());
    // Small declared sizes get their whole data (zeros) and pad byte.
    if (size <= 64) {
      while (b.b.size() < 8 + size) b.b.push_back(0);
      if (size & 1) b.b.push_back(0);
    }
    return b.b;
  };
  auto cat = [](std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const HRESULT kShort = static_cast<HRESULT>(0x8004E008);
  const Case cases[] = {
      {"empty list", {}, 0, S_OK, 0, nullptr},
      {"size 0 gives an empty text", sub("INAM", 0, ""), 0, S_OK, 1, L""},
      {"text without terminator", sub("INAM", 4, "abcd"), 0, S_OK, 1, L"abcd"},
      {"size 0xFFFFFFFF", cat(sub("INAM", 2, "a\0"), sub("IART", 0xFFFFFFFFu, "abcd")), 0, kShort, 0, nullptr},
      {"size 0x7FFFFFFF", sub("INAM", 0x7FFFFFFFu, "abcd"), 0, kShort, 0, nullptr},
      {"size past the list, inside the file", cat(sub("INAM", 12, "abcd"), sub("IART", 2, "b\0")), 12, kShort, 0, nullptr},
      {"list bytes past the file", sub("INAM", 2, "a\0"), 4000, kShort, 0, nullptr},
      {"header cut by the list end", cat(sub("INAM", 2, "a\0"), sub("IART", 2, "b\0")), 14, S_OK, 1, L"a"},
  };
  for (const Case& c : cases) {
    Bytes file;
    file.Tag("RIFF").U32(0).Tag("WAVE").Tag("LIST").U32(static_cast<uint32_t>(4 + c.body.size())).Tag("INFO");
    file.b.insert(file.b.end(), c.body.begin(), c.body.end());
    file.FixRIFF();
    std::wstring path = MakeFile(dir, L"hostile.wav", file.b);
    Handle h(path, false);
    h.SetPos(24);
    DWORD listBytes = c.listBytes ? c.listBytes : static_cast<DWORD>(c.body.size());
    KvSummary s{0, nullptr};
    EXPECT_EQ(c.load, KvSummary_Load(h, &s, &listBytes)) << c.name;
    EXPECT_EQ(c.count, s.count) << c.name;
    if (FAILED(c.load)) {
      EXPECT_EQ(nullptr, s.items) << c.name;
    }
    if (c.count && s.count) {
      EXPECT_STREQ(c.text, s.items[0].text) << c.name;
    }
    KvSummary_Free(&s);
    // The single-text reader is as careful.
    h.SetPos(12);
    wchar_t buf[8] = {L'x', L'x'};
    HRESULT hr = KvSummary_GetStringFromFile(h, Fcc("IART"), buf, 8, static_cast<DWORD>(file.b.size() - 12));
    EXPECT_EQ(12u, h.Pos()) << c.name;
    if (FAILED(hr)) {
      EXPECT_EQ(0, buf[0]) << c.name;
    }
    h.Close();
  }
}

}  // namespace
