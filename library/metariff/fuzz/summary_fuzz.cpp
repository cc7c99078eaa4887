// libFuzzer target of the summary item lists: the input is a RIFF file held
// in memory. Its "LIST" "INFO" (ANSI texts) and "LIST" "UNFO" (UTF-16 texts)
// are loaded with the bound the list's own size gives and with the whole
// content as the bound, single texts are read straight from the file, and a
// loaded list is copied, merged, saved into a new file (in its own width,
// and an ANSI list as UTF-16 too) and loaded back, where it must equal the
// list it was saved from. The file must never be
// read outside its bytes, every block must be released, and a walk must end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "kvfile.h"
#include "kvriff.h"
#include "kvsummary.h"

namespace {

const DWORD kInfo = KVRIFF_FOURCC('I', 'N', 'F', 'O');
const DWORD kUnfo = KVRIFF_FOURCC('U', 'N', 'F', 'O');

// A saved list, loaded back, is the list that was saved.
void RoundTrip(const KvSummary& s, bool wide) {
  KvMemoryFile out;
  HANDLE h = &out;
  if (FAILED(riff_WriteFileID(h, KVRIFF_FOURCC('W', 'A', 'V', 'E'), 4))) abort();
  DWORD written = 0;
  HRESULT hr = wide ? KvSummary_SaveUNFO(h, &s, &written) : KvSummary_Save(h, &s, &written);
  if (FAILED(hr) || written == 0) return;  // too large, or no text to save
  DWORD listBytes = written - 12;
  if (FAILED(riff_RestoreLocation(h, 24))) abort();
  KvSummary back{0, nullptr};
  hr = wide ? KvSummary_LoadUNFO(h, &back, &listBytes) : KvSummary_Load(h, &back, &listBytes);
  if (FAILED(hr)) abort();
  // A loaded list has a text in every item (empty at least), so every item
  // is saved, in order, whatever its id.
  if (!KvSummary_Compare(&s, &back)) abort();
  KvSummary_Free(&back);
}

void LoadAndUse(HANDLE h, DWORD type, bool wide, DWORD content) {
  riff_RestoreLocation(h, 12);
  DWORD listSize = 0, remaining = content >= 4 ? content - 4 : 0;
  if (FAILED(riff_FindListChunk(h, type, &listSize, &remaining))) return;
  DWORD at = 0;
  riff_SaveLocation(h, &at);
  for (int bound = 0; bound < 2; ++bound) {
    riff_RestoreLocation(h, at);
    DWORD listBytes = bound ? content : listSize;
    KvSummary s{0, nullptr};
    HRESULT hr = wide ? KvSummary_LoadUNFO(h, &s, &listBytes) : KvSummary_Load(h, &s, &listBytes);
    if (FAILED(hr)) {
      if (s.count || s.items) abort();  // a failed load holds nothing
      continue;
    }
    KvSummary copy{0, nullptr};
    if (SUCCEEDED(KvSummary_Copy(&copy, &s)) && !KvSummary_Compare(&copy, &s)) abort();
    KvSummary merged{0, nullptr};
    KvSummary_Merge(&merged, &copy, TRUE, FALSE);
    KvSummary_Merge(&merged, &copy, FALSE, TRUE);
    for (DWORD i = 0; i < s.count && i < 8; ++i) KvSummary_GetItemText(&merged, s.items[i].id);
    RoundTrip(s, wide);
    // ANSI texts fit UTF-16 (the reverse is not lossless).
    if (!wide) RoundTrip(s, true);
    KvSummary_Free(&merged);
    KvSummary_Free(&copy);
    KvSummary_Free(&s);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  KvMemoryFile file(data, size);
  HANDLE h = &file;
  DWORD content = 0, form = 0;
  if (FAILED(riff_ReadFileID(h, &content, &form))) return 0;
  LoadAndUse(h, kInfo, false, content);
  LoadAndUse(h, kUnfo, true, content);
  // Single texts, into buffers of several sizes; the position is kept.
  static const DWORD kIds[] = {KVRIFF_FOURCC('I', 'N', 'A', 'M'), KVRIFF_FOURCC('I', 'A', 'R', 'T'),
                               KVRIFF_FOURCC('I', 'C', 'M', 'T')};
  for (DWORD id : kIds) {
    for (int cch : {1, 5, 300}) {
      WCHAR buf[300];
      riff_RestoreLocation(h, 12);
      KvSummary_GetStringFromFile(h, id, buf, cch, content);
      DWORD pos = 0;
      riff_SaveLocation(h, &pos);
      if (pos != 12) abort();
      size_t n = 0;
      while (buf[n]) ++n;
      if (n >= size_t(cch)) abort();
    }
  }
  return 0;
}
