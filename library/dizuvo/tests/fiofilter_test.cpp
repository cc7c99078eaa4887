// The file-dialog filter builder: filter texts in the pair layout as a
// common dialog parses them (double-NUL-terminated description/pattern
// pairs), unique breadth-first pattern lists, the index map in step with the
// text, entries from plug-in records, and the unique extension list over a
// manager with our own plug-in.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "fiomanager_util.h"
#include "kverror.h"
#include "kvfiofilter.h"
#include "kvfiomanager.h"
#include "kvfioplugin.h"
#include "kvlist.h"

using namespace fiotest;

namespace {

using Pairs = std::vector<std::pair<std::wstring, std::wstring>>;

// Parses a filter text the way the common file dialogs read lpstrFilter:
// description, NUL, pattern, NUL, ..., with an empty description ending it.
// Fails (returns false) when the text runs past `chars` before the end mark.
bool ParseFilter(const wchar_t* text, size_t chars, Pairs* out) {
  out->clear();
  size_t i = 0;
  for (;;) {
    if (i >= chars) return false;
    if (text[i] == 0) return true;
    std::wstring d, p;
    while (i < chars && text[i]) d += text[i++];
    if (++i >= chars) return false;
    while (i < chars && text[i]) p += text[i++];
    if (i++ >= chars) return false;
    out->push_back({d, p});
  }
}

struct Builder {
  IKvFioFilterBuilder2* b = nullptr;
  explicit Builder(tKVLIST* plugins = nullptr) { EXPECT_EQ(KvFio_CreateFilterBuilder(nullptr, plugins, &b), S_OK); }
  ~Builder() {
    if (b) {
      EXPECT_EQ(b->Release(), 0u);
    }
  }
  IKvFioFilterBuilder2* operator->() { return b; }
};

struct Entry {
  const wchar_t* patterns;
  const wchar_t* description;
  DWORD value;
  DWORD flags;
};

std::wstring Text(IKvFioFilterBuilder2* b) {
  return std::wstring(b->GetFilterTextBuffer() ? b->GetFilterTextBuffer() : L"", b->GetFilterTextLength());
}

std::vector<DWORD> Map(IKvFioFilterBuilder2* b) {
  const DWORD* m = b->GetIndexMapBuffer();
  return m ? std::vector<DWORD>(m, m + b->GetIndexMapCount()) : std::vector<DWORD>();
}

GUID Id(int n) { return GUID{0x7e57f000u + static_cast<DWORD>(n), 0x11, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 1}}; }

}  // namespace

// Filter texts of BuildFilterText: the text a dialog parses into its pairs,
// and the index map whose i-th value belongs to the dialog's filter i + 1.
TEST(FilterText, PairLayoutAndIndexMap) {
  struct Case {
    const char* name;
    std::vector<Entry> entries;
    std::wstring text;
    std::vector<DWORD> map;
  };
  using namespace std::string_literals;
  const std::vector<Case> cases = {
      {"two entries, the second without the pattern part",
       {{L"*.m4a;*.mp4", L"MPEG-4 Audio", 7, 0}, {L"*.wav", L"Wave", 9, KVFIO_FILTER_NO_PATTERNS}},
       L"MPEG-4 Audio (*.m4a;*.mp4)\0*.m4a;*.mp4\0Wave\0*.wav\0\0"s,
       {7, 9}},
      {"an empty pattern text and a missing description give no pair, and no map slot",
       {{L"", L"Empty", 1, 0}, {L"*.a", nullptr, 2, 0}, {L"*.b", L"B", 3, 0}, {nullptr, L"None", 4, 0}},
       L"B (*.b)\0*.b\0\0"s,
       {3}},
      {"a hidden entry is left out",
       {{L"*.a", L"A", 1, KVFIO_FILTER_HIDDEN}, {L"*.b", L"B", 2, 0}},
       L"B (*.b)\0*.b\0\0"s,
       {2}},
      {"no qualifying entry: the final NUL alone",
       {{L"*.a", L"A", 1, KVFIO_FILTER_HIDDEN}},
       L"\0"s,
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Builder b;
    for (const Entry& e : c.entries) ASSERT_EQ(b->AddEntry(e.patterns, e.description, e.value, -1, e.flags, nullptr), S_OK);
    ASSERT_EQ(b->BuildFilterText(nullptr, 0, 0), S_OK);
    EXPECT_EQ(Text(b.b), c.text);
    EXPECT_EQ(Map(b.b), c.map);
    Pairs pairs;
    ASSERT_TRUE(ParseFilter(b->GetFilterTextBuffer(), b->GetFilterTextLength(), &pairs));
    EXPECT_EQ(pairs.size(), c.map.size()) << "one map value per dialog filter";
    DWORD text = 0, ext = 1, map = 0;
    EXPECT_EQ(b->GetLengths(&text, &ext, &map), S_OK);
    EXPECT_EQ(text, c.text.size());
    EXPECT_EQ(ext, 0u);
    EXPECT_EQ(map, c.map.size());
  }
}

// GetFilterText(Ex): the caller's buffer, the size report, the values of the
// entries in text order, and id lists in both modes.
TEST(FilterText, GetFilterTextExBuffersValuesAndIdLists) {
  Builder b;
  GUID a = Id(1), c = Id(3);
  ASSERT_EQ(b->AddEntry(L"*.a", L"A", 10, -1, 0, &a), S_OK);
  ASSERT_EQ(b->AddEntry(L"*.b", L"B", 20, -1, KVFIO_FILTER_HIDDEN, nullptr), S_OK);
  ASSERT_EQ(b->AddEntry(L"*.c;*.cc", L"C", 30, -1, 0, &c), S_OK);

  DWORD size = 0;
  int count = 0;
  ASSERT_EQ(b->GetFilterText(nullptr, &size, nullptr, &count), S_OK);
  // Hidden entries take part in this text; the buffer carries two spare bytes.
  const std::wstring all = std::wstring(L"A (*.a)\0*.a\0B (*.b)\0*.b\0C (*.c;*.cc)\0*.c;*.cc\0\0", 47);
  EXPECT_EQ(size, 2 * (all.size() + 1));
  EXPECT_EQ(count, 3);

  std::vector<wchar_t> small(size / 2 - 1, L'#');
  DWORD smallSize = static_cast<DWORD>(small.size() * 2);
  EXPECT_EQ(b->GetFilterText(small.data(), &smallSize, nullptr, nullptr), E_FAIL);
  EXPECT_EQ(small[0], 0) << "cleared";
  EXPECT_EQ(smallSize, size) << "the size is reported";

  std::vector<wchar_t> buf(size / 2, L'#');
  std::vector<DWORD> values(3, 0);
  DWORD bufSize = size;
  count = 3;
  ASSERT_EQ(b->GetFilterText(buf.data(), &bufSize, values.data(), &count), S_OK);
  EXPECT_EQ(std::wstring(buf.data(), all.size()), all);
  EXPECT_EQ(values, (std::vector<DWORD>{10, 20, 30}));
  Pairs pairs;
  ASSERT_TRUE(ParseFilter(buf.data(), buf.size(), &pairs));
  EXPECT_EQ(pairs.size(), 3u);

  struct Case {
    DWORD flags;
    std::wstring text;
    std::vector<DWORD> values;
  };
  GUID ids[] = {a, c};
  const Case cases[] = {
      {KVFIO_FILTER_LISTMODE_ONLY, std::wstring(L"A (*.a)\0*.a\0C (*.c;*.cc)\0*.c;*.cc\0\0", 35), {10, 30}},
      {0, std::wstring(L"B (*.b)\0*.b\0\0", 13), {20}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.flags);
    ASSERT_EQ(b->BuildFilterText(nullptr, 0, 0), S_OK);  // another list count: the next call rebuilds
    std::vector<wchar_t> out(200, L'#');
    std::vector<DWORD> v(5, 0xEEEEEEEE);
    DWORD sz = 400;
    int n = 5;
    ASSERT_EQ(b->GetFilterTextEx(out.data(), &sz, v.data(), &n, ids, 2, k.flags), S_OK);
    EXPECT_EQ(std::wstring(out.data(), k.text.size()), k.text);
    ASSERT_EQ(n, static_cast<int>(k.values.size()));
    EXPECT_EQ(std::vector<DWORD>(v.begin(), v.begin() + n), k.values);
  }
}

// Unique pattern lists: breadth-first, "*.*" and "?" tokens skipped, whole
// tokens compared, the 260-character cap stopping at a token boundary.
TEST(ExtensionList, UniqueBreadthFirstLists) {
  struct Case {
    const char* name;
    std::vector<const wchar_t*> patterns;
    DWORD flags;
    std::wstring list;
  };
  const Case cases[] = {
      {"first tokens of every entry come first; duplicates and *.* skipped",
       {L"*.x;*.y", L"*.y;*.z;*.*"}, 0, L"*.x;*.y;*.z"},
      {"empty tokens and leading separators are ignored", {L";;*.a;;*.b;", L";*.c"}, 0, L"*.a;*.c;*.b"},
      {"'?' tokens are skipped", {L"*.a?;*.b", L"*.c"}, 0, L"*.c;*.b"},
      {"a token that is only a prefix of a listed one is still added", {L"*.aa", L"*.a"}, 0, L"*.aa;*.a"},
      {"an entry without patterns adds nothing", {L""}, 0, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Builder b;
    for (const wchar_t* p : c.patterns) ASSERT_EQ(b->AddEntry(p, L"D", 0, -1, 0, nullptr), S_OK);
    ASSERT_EQ(b->BuildExtensionList(nullptr, 0, c.flags), S_OK);
    const wchar_t* got = b->GetExtensionListBuffer();
    EXPECT_EQ(std::wstring(got ? got : L""), c.list);
    EXPECT_EQ(b->GetExtensionListLength(), c.list.empty() ? 0u : c.list.size() + 1);
  }
}

TEST(ExtensionList, OverlongListsAreCappedAtATokenBoundary) {
  Builder b;
  std::wstring expectAll;
  for (int i = 0; i < 200; ++i) {
    wchar_t p[32];
    wsprintfW(p, L"*.e%03d;*.f%03d", i, i);
    ASSERT_EQ(b->AddEntry(p, L"Type", static_cast<DWORD>(i), -1, 0, nullptr), S_OK);
  }
  ASSERT_EQ(b->BuildExtensionList(nullptr, 0, KVFIO_FILTER_CAP_260), S_OK);
  std::wstring capped = b->GetExtensionListBuffer();
  EXPECT_LE(capped.size() + 1, 260u);
  EXPECT_GT(capped.size() + 1, 260u - 7) << "stops only before the token that would pass the cap";
  // Well formed: whole "*.eNNN" tokens from the first round.
  for (size_t i = 0; i < capped.size(); i += 7) {
    EXPECT_EQ(capped.substr(i, 3), L"*.e");
    if (i + 6 < capped.size()) {
      EXPECT_EQ(capped[i + 6], L';');
    }
  }
  // Flag 0x20 changed: rebuilt without the cap, all 400 tokens.
  ASSERT_EQ(b->BuildExtensionList(nullptr, 0, 0), S_OK);
  EXPECT_EQ(b->GetExtensionListLength(), 400u * 7);
  // The filter text has no cap: every pair parses.
  ASSERT_EQ(b->BuildFilterText(nullptr, 0, 0), S_OK);
  Pairs pairs;
  ASSERT_TRUE(ParseFilter(b->GetFilterTextBuffer(), b->GetFilterTextLength(), &pairs));
  EXPECT_EQ(pairs.size(), 200u);
  EXPECT_EQ(b->GetIndexMapCount(), 200u);
  // A token longer than 259 characters is skipped, never copied.
  Builder l;
  std::wstring longToken = L"*." + std::wstring(300, L'q');
  ASSERT_EQ(l->AddEntry((longToken + L";*.ok").c_str(), L"Long", 0, -1, 0, nullptr), S_OK);
  ASSERT_EQ(l->BuildExtensionList(nullptr, 0, 0), S_OK);
  EXPECT_EQ(std::wstring(l->GetExtensionListBuffer()), L"*.ok");
}

// The copying getters: cuts, separators, padding.
TEST(Getters, CopiesCutsAndPadding) {
  Builder b;
  ASSERT_EQ(b->AddEntry(L"AAAA;BB", L"D", 5, -1, 0, nullptr), S_OK);
  ASSERT_EQ(b->BuildExtensionList(nullptr, 0, 0), S_OK);
  wchar_t buf[16];
  struct Case {
    int cch;
    wchar_t sep;
    std::wstring expect;  // the first `cch` characters
  };
  const Case cases[] = {
      {16, L'|', std::wstring(L"AAAA|BB\0", 8)},
      {6, L';', std::wstring(L"AAAA\0\0", 6)},
      {8, L';', std::wstring(L"AAAA;BB\0", 8)},
      {3, L';', std::wstring(L"\0\0\0", 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cch);
    std::fill(buf, buf + 16, L'#');
    ASSERT_EQ(b->GetExtensionList(buf, c.cch, c.sep), S_OK);
    EXPECT_EQ(std::wstring(buf, std::min<size_t>(c.expect.size(), c.cch)), c.expect.substr(0, c.cch));
  }
  EXPECT_EQ(b->GetExtensionList(buf, 1, L';'), E_INVALIDARG);
  EXPECT_EQ(b->GetExtensionList(nullptr, 8, L';'), E_INVALIDARG);

  DWORD map[4] = {1, 1, 1, 1};
  ASSERT_EQ(b->GetIndexMap(map, 4), S_OK);
  EXPECT_EQ(std::vector<DWORD>(map, map + 4), (std::vector<DWORD>{0, 0, 0, 0})) << "no map yet: zeros";
  ASSERT_EQ(b->BuildFilterText(nullptr, 0, 0), S_OK);
  ASSERT_EQ(b->GetIndexMap(map, 4), S_OK);
  EXPECT_EQ(std::vector<DWORD>(map, map + 4), (std::vector<DWORD>{5, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF}));
  EXPECT_EQ(b->GetIndexMap(map, 0), E_INVALIDARG);

  // "D (AAAA;BB)\0AAAA;BB\0\0" is 21 characters.
  wchar_t s[32];
  ASSERT_EQ(b->GetFilterString(s, 32), S_OK);
  EXPECT_EQ(std::wstring(s, 21), std::wstring(L"D (AAAA;BB)\0AAAA;BB\0\0", 21));
  EXPECT_EQ(b->GetFilterString(s, 10), KV_E_BUFFERTOOSMALL);
  EXPECT_EQ(std::wstring(s, 10), std::wstring(L"D (AAAA;B\0", 10));
}

// Building lazily: hiding does not mark the text; two id lists of the same
// count build once; deleting, adding and sorting rebuild.
TEST(Lifecycle, RebuildsOnlyWhenMarked) {
  Builder b;
  GUID a = Id(1), c = Id(2);
  ASSERT_EQ(b->AddEntry(L"*.b", L"beta", 2, -1, 0, &a), S_OK);
  ASSERT_EQ(b->AddEntry(L"*.a", L"Alpha", 1, -1, 0, &c), S_OK);
  ASSERT_EQ(b->BuildFilterText(nullptr, 0, 0), S_OK);
  std::wstring first = Text(b.b);
  ASSERT_EQ(b->SetEntryHidden(0, TRUE), S_OK);
  ASSERT_EQ(b->BuildFilterText(nullptr, 0, 0), S_OK);
  EXPECT_EQ(Text(b.b), first) << "hiding does not mark the text";
  EXPECT_EQ(b->SetEntryHidden(5, TRUE), E_INVALIDARG);

  ASSERT_EQ(b->BuildFilterText(&a, 1, KVFIO_FILTER_LISTMODE_ONLY), S_OK);
  EXPECT_EQ(Text(b.b), std::wstring(L"\0", 1)) << "only beta passes, and it is hidden";
  ASSERT_EQ(b->BuildFilterText(&c, 1, KVFIO_FILTER_LISTMODE_ONLY), S_OK);
  EXPECT_EQ(Text(b.b), std::wstring(L"\0", 1)) << "same count: built once (a rebuild would list Alpha)";

  ASSERT_EQ(b->SetEntryHidden(0, FALSE), S_OK);
  ASSERT_EQ(b->Sort(FALSE), S_OK);
  ASSERT_EQ(b->BuildFilterText(nullptr, 0, 0), S_OK);
  EXPECT_EQ(Text(b.b), std::wstring(L"Alpha (*.a)\0*.a\0beta (*.b)\0*.b\0\0", 32)) << "case-insensitive order";
  EXPECT_EQ(Map(b.b), (std::vector<DWORD>{1, 2}));
  ASSERT_EQ(b->Sort(TRUE), S_OK);
  ASSERT_EQ(b->BuildFilterText(nullptr, 0, 0), S_OK);
  EXPECT_EQ(Map(b.b), (std::vector<DWORD>{2, 1}));

  int index = -7;
  EXPECT_EQ(b->FindEntry(&index, &c), S_OK);
  EXPECT_EQ(index, 1);
  GUID none = Id(9);
  EXPECT_EQ(b->FindEntry(&index, &none), S_FALSE);
  EXPECT_EQ(b->FindEntry(&index, nullptr), E_INVALIDARG);

  KVFIO_FILTER_ENTRY_INFO info;
  ASSERT_EQ(b->GetEntry(&info, 1), S_OK);
  EXPECT_EQ(std::wstring(info.description), L"Alpha");
  EXPECT_EQ(std::wstring(info.patterns), L"*.a");
  EXPECT_EQ(info.value, 1u);
  EXPECT_TRUE(IsEqualGUID(info.classId, c));
  EXPECT_EQ(b->GetEntry(&info, 2), E_FAIL);

  EXPECT_EQ(b->RemoveEntries(&a, 1, 0, 0), S_FALSE);
  int n = 0;
  ASSERT_EQ(b->GetEntryCount(&n), S_OK);
  EXPECT_EQ(n, 1);
  ASSERT_EQ(b->BuildFilterText(nullptr, 0, 0), S_OK);
  EXPECT_EQ(Map(b.b), (std::vector<DWORD>{1}));

  ASSERT_EQ(b->AddEntryFromParts(L"All", 0, 0, 0, nullptr), S_OK);
  ASSERT_EQ(b->GetEntry(&info, 0), S_OK);
  EXPECT_EQ(std::wstring(info.patterns), L"*.a");

  ASSERT_EQ(b->Clear(), S_OK);
  EXPECT_EQ(b->GetEntryCount(&n), E_FAIL);
  EXPECT_EQ(b->BuildFilterText(nullptr, 0, 0), E_FAIL);
}

TEST(Lifecycle, PatternOnlyLayout) {
  Builder b;
  ASSERT_EQ(b->AddEntry(L"*.x;*.y", L"X", 1, -1, 0, nullptr), S_OK);
  ASSERT_EQ(b->AddEntry(L"*.y;*.z;*.*", L"Y", 2, -1, 0, nullptr), S_OK);
  ASSERT_EQ(b->SetBuildOption(1), S_OK);
  DWORD size = 0;
  ASSERT_EQ(b->GetFilterText(nullptr, &size, nullptr, nullptr), S_OK);
  std::wstring t(b->GetFilterTextBuffer(), size / 2);
  EXPECT_EQ(t.substr(0, 13), std::wstring(L"*.x\0*.y\0*.z\0\0", 13));
  EXPECT_EQ(b->GetFilterTextLength(), 12u);
}

namespace {

// A plug-in list of records made here: slots hold record pointers.
struct PluginList {
  tKVLIST* list = nullptr;
  std::vector<KvFioPluginRecord*> records;
  PluginList() { EXPECT_EQ(KvList_CreateExZ(&list, 0, 8, 8, 0, 0, 0, 0), S_OK); }
  ~PluginList() {
    KvList_Destroy(list);
    for (KvFioPluginRecord* r : records) delete r;
  }
  KvFioPluginRecord* Add(int n, const wchar_t* readerExt, const wchar_t* name, DWORD streamType) {
    KvFioPluginRecord* r = new KvFioPluginRecord();
    r->pluginId = Id(100 + n);
    r->dialogName = name;
    r->streamType = streamType;
    r->reader.classId = Id(200 + n);
    r->reader.index = n;
    r->reader.extensions = readerExt;
    records.push_back(r);
    EXPECT_EQ(KvList_InsertItem(list, -1, reinterpret_cast<DWORD_PTR>(r)), S_OK);
    return r;
  }
};

std::vector<DWORD> Values(IKvFioFilterBuilder2* b) {
  std::vector<DWORD> v;
  int n = 0;
  if (FAILED(b->GetEntryCount(&n))) return v;
  for (int i = 0; i < n; ++i) {
    KVFIO_FILTER_ENTRY_INFO info;
    b->GetEntry(&info, i);
    v.push_back(info.value);
  }
  return v;
}

}  // namespace

TEST(PluginTypes, WhichPluginsGiveEntries) {
  PluginList pl;
  pl.Add(0, L"*.m4a", L"AAC", 0x1);
  pl.Add(1, L"", L"Empty", 0x1);
  pl.Add(2, L"*.wav", L"Wave", 0x2)->reader.loadState = KVFIO_LOAD_NOT_AVAILABLE;
  KvFioPluginRecord* r3 = pl.Add(3, L"*.mp4", L"Video", 0x2);
  r3->renderer.classId = Id(303);
  pl.Add(4, nullptr, L"None", 0x1);
  GUID p0 = Id(100), p3 = Id(103);
  GUID both[] = {p0, p3};
  struct Case {
    const char* name;
    const GUID* ids;
    int count;
    DWORD flags;
    DWORD mask, value, invert, required;
    std::vector<DWORD> values;
  };
  const Case cases[] = {
      {"all usable readers", nullptr, 0, 0, 0, 0, 0, 0, {0, 3}},
      {"only listed", &p3, 1, KVFIO_FILTER_LISTMODE_ONLY, 0, 0, 0, 0, {3}},
      {"all but listed", &p3, 1, 0, 0, 0, 0, 0, {0}},
      {"empty list, only-mode: none", both, 0, KVFIO_FILTER_LISTMODE_ONLY, 0, 0, 0, 0, {}},
      {"empty list, except-mode: all", both, 0, 0, 0, 0, 0, 0, {0, 3}},
      {"type mask", nullptr, 0, 0, 0x2, 0x2, 0, 0, {3}},
      {"inverted type mask", nullptr, 0, 0, 0x2, 0x2, 1, 0, {0}},
      {"renderer required", nullptr, 0, 0, 0, 0, 0, KVFIO_ACCESS_RENDERER, {3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Builder b(pl.list);
    ASSERT_EQ(b->SetTypeMask(c.mask, c.value, c.invert), S_OK);
    ASSERT_EQ(b->SetRequiredKind(c.required), S_OK);
    ASSERT_EQ(b->AddPluginTypes(c.ids, c.count, KVFIO_ACCESS_READER, c.flags), S_OK);
    EXPECT_EQ(Values(b.b), c.values);
  }
  // Flag 0x800 adds hidden entries: the text is empty, the entries are there.
  Builder h(pl.list);
  ASSERT_EQ(h->AddPluginTypes(nullptr, 0, KVFIO_ACCESS_READER, KVFIO_FILTER_HIDDEN), S_OK);
  EXPECT_EQ(Values(h.b).size(), 2u);
  ASSERT_EQ(h->BuildFilterText(nullptr, 0, 0), S_OK);
  EXPECT_EQ(h->GetFilterTextLength(), 1u);
  // Renderers: none usable.
  Builder r(pl.list);
  ASSERT_EQ(r->AddPluginTypes(nullptr, 0, KVFIO_ACCESS_RENDERER, 0), S_OK);
  int n = 0;
  EXPECT_EQ(r->GetEntryCount(&n), E_FAIL);
}

TEST(PluginTypes, EmptyPluginListsAreHandledCleanly) {
  PluginList empty;
  for (tKVLIST* list : {empty.list, static_cast<tKVLIST*>(nullptr)}) {
    Builder b(list);
    EXPECT_EQ(b->AddPluginTypes(nullptr, 0, KVFIO_ACCESS_READER, 0), S_OK);
    int n = 5;
    EXPECT_EQ(b->GetEntryCount(&n), E_FAIL);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(b->BuildFilterText(nullptr, 0, 0), E_FAIL);
    EXPECT_EQ(b->BuildExtensionList(nullptr, 0, 0), E_FAIL);
    wchar_t buf[4] = {L'#', L'#', L'#', L'#'};
    DWORD size = 8;
    EXPECT_EQ(b->GetFilterText(buf, &size, nullptr, nullptr), E_FAIL);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(b->GetFilterString(buf, 4), S_OK);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(b->GetExtensionList(buf, 4, L';'), S_OK);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(b->AddEntryFromParts(L"All", 0, -1, 0, nullptr), S_OK) << "an entry with an empty pattern text";
    ASSERT_EQ(b->BuildFilterText(nullptr, 0, 0), S_OK);
    EXPECT_EQ(b->GetFilterTextLength(), 1u);
    EXPECT_EQ(b->GetIndexMapCount(), 0u);
  }
}

TEST(UniqueExtensions, SortedCaseInsensitivelyAndUnique) {
  Builder b;
  GUID skip = Id(5);
  ASSERT_EQ(b->AddEntry(L"*.MP4;*.m4a;*.*", L"A", 0, -1, 0, nullptr), S_OK);
  ASSERT_EQ(b->AddEntry(L"*.mp4;*.AAC;*.a?c", L"B", 0, -1, 0, nullptr), S_OK);
  ASSERT_EQ(b->AddEntry(L"*.wav", L"C", 0, -1, KVFIO_FILTER_HIDDEN, nullptr), S_OK);
  ASSERT_EQ(b->AddEntry(L"*.zzz", L"D", 0, -1, 0, &skip), S_OK);
  tKVLIST* out = nullptr;
  ASSERT_EQ(KvList_CreateExZ(&out, 0, 4, 4, KVLIST_ALLOCATED_ITEMS, 0, 0, 0), S_OK);
  ASSERT_EQ(KvFio_BuildUniqueExtensionList(out, b.b, &skip, 1, 0), S_OK);
  std::vector<std::wstring> got;
  for (int i = 0; i < out->count; ++i) got.push_back(reinterpret_cast<const wchar_t**>(out->items)[i]);
  EXPECT_EQ(got, (std::vector<std::wstring>{L".AAC", L".m4a", L".MP4"}));
  // The marks of the id list are gone afterwards.
  ASSERT_EQ(b->BuildExtensionList(nullptr, 0, 0), S_OK);
  EXPECT_NE(std::wstring(b->GetExtensionListBuffer()).find(L"*.zzz"), std::wstring::npos);
  EXPECT_EQ(KvFio_BuildUniqueExtensionList(nullptr, b.b, nullptr, 0, 0), E_INVALIDARG);
  EXPECT_EQ(KvFio_BuildUniqueExtensionList(out, static_cast<IKvFioFilterBuilder2*>(nullptr), nullptr, 0, 0),
            E_INVALIDARG);
  KvList_Destroy(out);
}

// The slots of a list of pointer items are pointer-sized: an item inserted
// there keeps every bit, the high ones of a 64-bit build's word included. A
// list with 4-byte slots keeps the low 32 bits of each item.
TEST(ListHelper, InsertItem) {
  tKVLIST* l = nullptr;
  ASSERT_EQ(KvList_CreateExZ(&l, 0, 2, 2, 0, 0, 0, 0), S_OK);
  ASSERT_EQ(l->stride, sizeof(DWORD_PTR));
  // A word that fills the slot: 0x8765432187654321 where words are 64 bits wide.
  const DWORD_PTR high = static_cast<DWORD_PTR>(0x8765432187654321ull);
  EXPECT_EQ(KvList_InsertItem(l, -1, 1), S_OK);
  EXPECT_EQ(KvList_InsertItem(l, -1, high), S_OK);
  EXPECT_EQ(KvList_InsertItem(l, 1, 2), S_OK);
  ASSERT_EQ(l->count, 3);
  const DWORD_PTR* v = reinterpret_cast<const DWORD_PTR*>(l->items);
  EXPECT_EQ(std::vector<DWORD_PTR>(v, v + 3), (std::vector<DWORD_PTR>{1, 2, high}));
  KvList_Destroy(l);

  tKVLIST* words = nullptr;
  ASSERT_EQ(KvList_CreateExZ(&words, sizeof(DWORD), 2, 2, KVLIST_INPLACE_ITEMS, 0, 0, 0), S_OK);
  ASSERT_EQ(words->stride, sizeof(DWORD));
  EXPECT_EQ(KvList_InsertItem(words, -1, 7), S_OK);
  EXPECT_EQ(KvList_InsertItem(words, -1, high), S_OK);
  EXPECT_EQ(KvList_InsertItem(words, 1, 5), S_OK);
  ASSERT_EQ(words->count, 3);
  const DWORD* w = reinterpret_cast<const DWORD*>(words->items);
  EXPECT_EQ(std::vector<DWORD>(w, w + 3), (std::vector<DWORD>{7, 5, 0x87654321u}));
  KvList_Destroy(words);
}

// A manager over our own plug-in DLL and the test's fake plug-in module.
TEST(ManagerFilters, FromRegisteredPlugins) {
  std::wstring dir = ScratchFolder(L"mgr-filter");
  ASSERT_TRUE(CopyBinFile(L"vogaac2.dll", dir + L"vogaac2.dll"));
  ASSERT_TRUE(CopyBinFile(L"fakeplugin.dll", dir + L"fakeplugin.dll"));
  std::wstring a = dir + L"vogaac2.dll", f = dir + L"fakeplugin.dll";
  const wchar_t* dlls[] = {a.c_str(), f.c_str()};
  IKvDizuVOMgrForApp* mgr = nullptr;
  ASSERT_EQ(KVDizuVO_CreateInstance(&mgr, 0, dlls, 2), S_OK);

  IUnknown* unk = nullptr;
  ASSERT_EQ(mgr->CreateFilterBuilderEx(&unk, KVFIO_ACCESS_READER, 0, 0, 0), S_OK);
  ASSERT_NE(unk, nullptr);
  IKvFioFilterBuilder2* b = static_cast<IKvFioFilterBuilder2*>(unk);
  int n = 0;
  ASSERT_EQ(b->GetEntryCount(&n), S_OK);
  EXPECT_GE(n, 1);
  ASSERT_EQ(b->BuildFilterText(nullptr, 0, 0), S_OK);
  Pairs pairs;
  ASSERT_TRUE(ParseFilter(b->GetFilterTextBuffer(), b->GetFilterTextLength(), &pairs));
  EXPECT_EQ(pairs.size(), b->GetIndexMapCount());
  for (size_t i = 1; i < pairs.size(); ++i)
    EXPECT_LE(lstrcmpiW(pairs[i - 1].first.c_str(), pairs[i].first.c_str()), 0) << "sorted by description";
  // Every map value names a reader the manager hands out.
  for (DWORD i = 0; i < b->GetIndexMapCount(); ++i) {
    IKvReadFileClass* cls = nullptr;
    KVFIO_FILTER_ENTRY_INFO info;
    ASSERT_EQ(b->GetEntry(&info, static_cast<int>(i)), S_OK);
    if (SUCCEEDED(mgr->GetReaderClass(&cls, &info.classId)) && cls) {
      DWORD index = 0xFFFF;
      cls->GetClassIndex(&index);
      EXPECT_EQ(index, info.value);
      cls->Release();
    }
  }
  EXPECT_EQ(b->Release(), 0u);

  // Through the manager's QueryInterface: the manager is the outer object.
  IKvFioFilterBuilder2* q = nullptr;
  ASSERT_EQ(mgr->QueryInterface(IID_IKvFioFilterBuilder2, reinterpret_cast<void**>(&q)), S_OK);
  IKvDizuVOMgrForApp* back = nullptr;
  ASSERT_EQ(q->QueryInterface(IID_IKvDizuVOMgrForApp, reinterpret_cast<void**>(&back)), S_OK);
  EXPECT_EQ(back, mgr);
  back->Release();
  ASSERT_EQ(q->AddPluginTypes(nullptr, 0, KVFIO_ACCESS_READER, 0), S_OK);
  ASSERT_EQ(q->GetEntryCount(&n), S_OK);
  q->Release();

  // The unique extension list over the registered readers.
  tKVLIST* out = nullptr;
  ASSERT_EQ(KvList_CreateExZ(&out, 0, 4, 4, KVLIST_ALLOCATED_ITEMS, 0, 0, 0), S_OK);
  ASSERT_EQ(KvFio_BuildUniqueExtensionList(mgr, out, KVFIO_ACCESS_READER, 0, nullptr, 0, 0), S_OK);
  ASSERT_GE(out->count, 1);
  for (int i = 0; i < out->count; ++i) {
    const wchar_t* s = reinterpret_cast<const wchar_t**>(out->items)[i];
    EXPECT_EQ(s[0], L'.') << i;
    if (i) {
      EXPECT_LT(lstrcmpiW(reinterpret_cast<const wchar_t**>(out->items)[i - 1], s), 0) << "sorted, unique";
    }
  }
  KvList_Destroy(out);
  // A type word that nothing carries, inverted: every plug-in passes still.
  EXPECT_EQ(KvFio_BuildUniqueExtensionList(static_cast<IKvDizuVOMgrForApp*>(nullptr), out, 16, 0, nullptr, 0, 0),
            E_INVALIDARG);

  // Kinds that name nothing give a builder without entries.
  ASSERT_EQ(mgr->CreateFilterBuilder(&unk, 7, 0, 0), S_OK);
  EXPECT_EQ(static_cast<IKvFioFilterBuilder2*>(unk)->GetEntryCount(&n), E_FAIL);
  unk->Release();

  mgr->Shutdown();
  mgr->Release();
}
