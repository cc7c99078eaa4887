// libFuzzer target of the display lists: the input is a RIFF file whose
// "DISP" chunks are loaded into a list (bounded by the RIFF body), a bitmap
// item is checked as a packed DIB, and the list is saved into a new file and
// loaded again: what was loaded must come back the same. The same bytes are
// also loaded as the display-list chunks of a 64-bit RIFF file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "kvdisplist.h"
#include "kvfile.h"
#include "kvriff.h"

namespace {

bool SameItems(displist* a, displist* b) {
  for (DWORD i = 0; i < a->count; ++i) {
    const displist_item& x = a->items[i];
    displist_item* y = displist_GetItem(b, x.format);
    if (!y || x.size != y->size) return false;
    if (x.size && std::memcmp(x.data, y->data, x.size) != 0) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  displist* list = displist_Create();
  if (!list) return 0;
  {
    KvMemoryFile file(data, size);
    DWORD content = 0, form = 0;
    if (SUCCEEDED(riff_ReadFileID(&file, &content, &form))) {
      DWORD remaining = content;
      if (SUCCEEDED(displist_Load(&file, list, &remaining))) {
        displist_item* dib = displist_GetItem(list, CF_DIB);
        if (dib && dib->data && dib->size >= 4 && DibIsWhole(dib->data, dib->size))
          DibColorTableSize(dib->data);
        // Saved and loaded again, the list is the same.
        KvMemoryFile saved;
        DWORD written = 0;
        if (FAILED(riff_WriteFileID(&saved, form, 4)) || FAILED(displist_Save(&saved, list, &written))) std::abort();
        displist* again = displist_Create();
        if (again) {
          kvfile::Seek(&saved, 12, FILE_BEGIN);
          DWORD left = written;
          if (FAILED(displist_Load(&saved, again, &left)) || !SameItems(list, again)) std::abort();
          displist_Destroy(again);
        }
      }
    }
  }
  {
    KvMemoryFile file(data, size);
    int64_t remaining = int64_t(size);
    displist_Free(list);
    displist64_Load(&file, list, &remaining);
    KvMemoryFile saved;
    uint64_t written = 0;
    displist64_Save(&saved, list, &written);
  }
  displist_Destroy(list);
  return 0;
}
