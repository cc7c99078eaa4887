// KvList: growable arrays of fixed-width slots with optional locking, list-owned
// items (runtime allocator or a private heap), sorting and searching.
#include "kvlist.h"

#include <malloc.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#ifndef _WIN64
// The header's 32-bit layout is fixed; a 64-bit compiler lays it out its own way.
static_assert(sizeof(tKVLIST) == 80, "the list header layout is fixed");
#endif

namespace {

const int kDefaultGrowBy = 16;
const int kMinGrowBy = 4;
const int kMaxGrowBy = 0x10400;
const int kDefaultInitial = 16;
// Lists of pointer items hold one pointer per slot.
const DWORD kPointerSlot = sizeof(void*);
const int kMinInitial = 4;
const DWORD kPrivateHeapInitialBytes = 4096;
const size_t kMoveStackBytes = 512;
// Largest item array we agree to allocate; keeps size arithmetic in range.
const uint64_t kMaxArrayBytes = 0x7FFFFFFFu;

bool Live(const tKVLIST* l) { return l && l->magic == KVLIST_MAGIC; }

// Lists whose options hold neither the locked nor the no-owner bit accept
// operations from their owner thread only.
bool Allowed(const tKVLIST* l) {
  return (l->options & (KVLIST_LOCKED | KVLIST_NO_OWNER_CHECK)) || GetCurrentThreadId() == l->ownerThread;
}

// Holds a locked list's critical section for one operation (re-entrantly).
class Hold {
 public:
  explicit Hold(tKVLIST* l) : l_((l->options & KVLIST_LOCKED) ? l : nullptr) {
    if (l_) EnterCriticalSection(&l_->lock);
  }
  ~Hold() {
    if (l_) LeaveCriticalSection(&l_->lock);
  }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;

 private:
  tKVLIST* l_;
};

BYTE* Slot(const tKVLIST* l, int i) { return l->items + static_cast<size_t>(i) * l->stride; }

void* SlotValue(const tKVLIST* l, int i) { return *reinterpret_cast<void**>(Slot(l, i)); }

// What comparators and predicates see of an item: the slot's address for
// in-place lists, else the slot's value.
const void* ItemView(const tKVLIST* l, int i) {
  return (l->options & KVLIST_INPLACE_ITEMS) ? Slot(l, i) : SlotValue(l, i);
}

void* ItemAlloc(tKVLIST* l, DWORD size) {
  if (size == 0) size = 1;
  if (l->privateHeap) return HeapAlloc(l->privateHeap, l->heapAllocFlags, size);
  return calloc(1, size);
}

void ItemFree(tKVLIST* l, void* p) {
  if (!p) return;
  if (l->privateHeap)
    HeapFree(l->privateHeap, l->heapFreeFlags, p);
  else
    free(p);
}

size_t ItemSize(const tKVLIST* l, void* p) {
  if (!p) return 0;
  if (l->privateHeap) {
    SIZE_T s = HeapSize(l->privateHeap, l->heapFreeFlags, p);
    return s == static_cast<SIZE_T>(-1) ? 0 : s;
  }
  return _msize(p);
}

void* ItemRealloc(tKVLIST* l, void* p, DWORD size) {
  if (size == 0) size = 1;
  if (l->privateHeap) return HeapReAlloc(l->privateHeap, l->heapAllocFlags, p, size);
  size_t old = _msize(p);
  void* q = realloc(p, size);
  // Growth is zero-filled on both allocators.
  if (q && size > old) memset(static_cast<BYTE*>(q) + old, 0, size - old);
  return q;
}

BYTE* ArrayAlloc(uint64_t slots, DWORD stride) {
  uint64_t bytes = slots * stride;
  if (bytes == 0) bytes = stride ? stride : 4;
  if (bytes > kMaxArrayBytes) return nullptr;
  return static_cast<BYTE*>(GlobalAlloc(GPTR, static_cast<SIZE_T>(bytes)));
}

// Replaces the item array by a zero-filled one of `slots` slots, keeping the
// leading bytes that fit.
HRESULT Reallocate(tKVLIST* l, int slots) {
  BYTE* fresh = ArrayAlloc(static_cast<uint64_t>(slots), l->stride);
  if (!fresh) return E_OUTOFMEMORY;
  int keep = slots < l->allocated ? slots : l->allocated;
  if (keep > 0) memcpy(fresh, l->items, static_cast<size_t>(keep) * l->stride);
  GlobalFree(l->items);
  l->items = fresh;
  l->allocated = slots;
  return S_OK;
}

HRESULT Grow(tKVLIST* l, int n) {
  if (n <= 0) n = l->growBy;
  int64_t steps = (static_cast<int64_t>(n) + l->growBy - 1) / l->growBy;
  int64_t slots = l->allocated + steps * l->growBy;
  if (slots > 0x7FFFFFFF) return E_OUTOFMEMORY;
  return Reallocate(l, static_cast<int>(slots));
}

HRESULT Shrink(tKVLIST* l, int n) {
  int spare = l->allocated - l->count;
  // Never release more than the free slots: live items stay inside the array.
  if (n < 0 || n > spare) n = spare;
  int remove = static_cast<int>((static_cast<int64_t>(n) + l->growBy - 1) / l->growBy * l->growBy);
  if (remove > spare) remove -= l->growBy;
  if (remove <= 0) return S_OK;
  return Reallocate(l, l->allocated - remove);
}

void SwapSlots(tKVLIST* l, int a, int b) {
  if (a == b) return;
  DWORD* p = reinterpret_cast<DWORD*>(Slot(l, a));
  DWORD* q = reinterpret_cast<DWORD*>(Slot(l, b));
  for (DWORD w = 0; w < l->stride / 4; ++w) {
    DWORD t = p[w];
    p[w] = q[w];
    q[w] = t;
  }
}

// Normalises a search range; false when it is empty.
bool NormaliseRange(const tKVLIST* l, int& first, int& count) {
  if (first < 0) first = 0;
  if (first >= l->count) return false;
  if (count < 0 || count > l->count - first) count = l->count - first;
  return count > 0;
}

// Binary search over [first, first + count). Returns the index of an equal
// item or -1; `insertAt` receives the index at which the key keeps the order.
int BinarySearch(tKVLIST* l, const void* key, int first, int count, KVLIST_COMPAREPROC compare, int* insertAt) {
  int lo = first, hi = first + count - 1, num = hi - lo + 1;
  int answer = first;
  while (lo <= hi) {
    int half = num / 2;
    if (half > 0) {
      int mid = lo + ((num & 1) ? half : half - 1);
      int r = compare(l->sortCriteria, key, ItemView(l, mid));
      if (r == 0) {
        answer = mid;
        if (insertAt) *insertAt = answer;
        return mid;
      }
      if (r < 0) {
        answer = mid;
        hi = mid - 1;
        num = (num & 1) ? half : half - 1;
      } else {
        answer = mid + 1;
        lo = mid + 1;
        num = half;
      }
    } else {
      if (num == 1) {
        int r = compare(l->sortCriteria, key, ItemView(l, lo));
        answer = r > 0 ? lo + 1 : lo;
        if (insertAt) *insertAt = answer;
        return r == 0 ? lo : -1;
      }
      break;
    }
  }
  if (insertAt) *insertAt = answer;
  return -1;
}

void SiftDown(tKVLIST* l, int k, int n, DWORD criteria, KVLIST_COMPAREPROC compare) {
  // 1-based heap positions over 0-based slots.
  while (2 * k <= n) {
    int c = 2 * k;
    if (c + 1 <= n && compare(criteria, ItemView(l, c), ItemView(l, c - 1)) > 0) c = c + 1;
    if (compare(criteria, ItemView(l, c - 1), ItemView(l, k - 1)) > 0) {
      SwapSlots(l, c - 1, k - 1);
      k = c;
    } else {
      break;
    }
  }
}

}  // namespace

extern "C" {

HRESULT KVAPI KvList_CreateExZ(tKVLIST** list, DWORD itemSize, int initialCount, int growBy, DWORD options, DWORD,
                               DWORD, DWORD) {
  if (!list) return E_INVALIDARG;
  tKVLIST* l = nullptr;
  const bool callerHeader = (options & KVLIST_CALLER_HEADER) != 0;
  if (callerHeader) {
    l = *list;
    if (!l) return E_FAIL;
    memset(l, 0, sizeof(*l));
  } else {
    *list = nullptr;
  }
  if ((options & KVLIST_ALLOCATED_ITEMS) && (options & KVLIST_INPLACE_ITEMS)) return E_FAIL;
  if ((options & KVLIST_INPLACE_ITEMS) && itemSize == 0) return E_INVALIDARG;
  if (!callerHeader) {
    l = static_cast<tKVLIST*>(GlobalAlloc(GPTR, sizeof(tKVLIST)));
    if (!l) return E_OUTOFMEMORY;
  }
  l->magic = KVLIST_MAGIC;
  l->stride = (options & KVLIST_INPLACE_ITEMS) ? ((itemSize + 3) & ~3u) : kPointerSlot;
  if (l->stride == 0) l->stride = 4;

  if (growBy < 1) growBy = kDefaultGrowBy;
  if (growBy < kMinGrowBy) growBy = kMinGrowBy;
  if (growBy > kMaxGrowBy) growBy = kMaxGrowBy;
  l->growBy = growBy;
  if (initialCount <= 0) initialCount = kDefaultInitial;
  if (initialCount < kMinInitial) initialCount = kMinInitial;
  int64_t slots = (static_cast<int64_t>(initialCount) + growBy - 1) / growBy * growBy;
  l->items = slots <= 0x7FFFFFFF ? ArrayAlloc(static_cast<uint64_t>(slots), l->stride) : nullptr;
  if (!l->items) {
    l->magic = 0;
    if (!callerHeader) GlobalFree(l);
    return E_OUTOFMEMORY;
  }
  l->allocated = static_cast<int>(slots);

  if (options & KVLIST_LOCKED) InitializeCriticalSection(&l->lock);
  l->ownerThread = GetCurrentThreadId();
  l->options = options | KVLIST_NO_OWNER_CHECK;

  if (options & KVLIST_ALLOCATED_ITEMS) {
    l->heapAllocFlags = HEAP_NO_SERIALIZE | HEAP_ZERO_MEMORY;
    l->heapFreeFlags = HEAP_NO_SERIALIZE;
    if (options & KVLIST_PRIVATE_HEAP) {
      l->privateHeap = HeapCreate(HEAP_NO_SERIALIZE, kPrivateHeapInitialBytes, 0);
      if (!l->privateHeap) {
        KvList_Destroy(l);
        return E_OUTOFMEMORY;
      }
    }
  }
  *list = l;
  return S_OK;
}

HRESULT KVAPI KvList_Destroy(tKVLIST* l) {
  if (!l) return S_OK;
  if (!Live(l)) return E_INVALIDARG;
  if (!Allowed(l)) return E_FAIL;
  const bool locked = (l->options & KVLIST_LOCKED) != 0;
  if (locked) EnterCriticalSection(&l->lock);
  if (l->options & KVLIST_ALLOCATED_ITEMS) {
    if (l->privateHeap) {
      HeapDestroy(l->privateHeap);
      l->privateHeap = nullptr;
      memset(l->items, 0, static_cast<size_t>(l->count) * l->stride);
    } else {
      for (int i = 0; i < l->count; ++i) ItemFree(l, SlotValue(l, i));
      ItemFree(l, l->pendingItem);
    }
    l->pendingItem = nullptr;
  }
  GlobalFree(l->items);
  l->items = nullptr;
  l->count = 0;
  l->allocated = 0;
  if (locked) {
    LeaveCriticalSection(&l->lock);
    DeleteCriticalSection(&l->lock);
  }
  l->magic = 0;
  if (!(l->options & KVLIST_CALLER_HEADER)) GlobalFree(l);
  return S_OK;
}

HRESULT KVAPI KvList_ConvertToInPlace(tKVLIST** list, tKVLIST* header) {
  if (!list || !header || !*list || !Live(*list)) return E_INVALIDARG;
  tKVLIST* old = *list;
  if (old->options & KVLIST_CALLER_HEADER) return E_FAIL;
  if (old == header) return E_INVALIDARG;
  memset(header, 0, sizeof(*header));
  *header = *old;
  // A critical section cannot be moved in memory: the copy gets a fresh one.
  if (old->options & KVLIST_LOCKED) {
    DeleteCriticalSection(&old->lock);
    InitializeCriticalSection(&header->lock);
  }
  header->options |= KVLIST_CALLER_HEADER;
  old->magic = 0;
  GlobalFree(old);
  *list = nullptr;
  return S_OK;
}

BOOL KVAPI KvList_IsList(const void* p, DWORD size) {
  if (!p || size != sizeof(tKVLIST)) return FALSE;
  if (IsBadReadPtr(p, size)) return FALSE;
  return static_cast<const tKVLIST*>(p)->magic == KVLIST_MAGIC;
}

BOOL KVAPI KvList_IsListFast(const tKVLIST* l) { return l && l->magic == KVLIST_MAGIC; }

HRESULT KVAPI KvList_InsertList(tKVLIST* l, int index, const void* items, int count) {
  if (!Live(l)) return E_INVALIDARG;
  if (!Allowed(l)) return E_FAIL;
  Hold hold(l);
  int n = 0;
  const void* src = items;
  bool pending = false;
  if (items && count >= 0 && !(l->options & KVLIST_ALLOCATED_ITEMS)) {
    n = count;
  } else if (items && count < 0 && count != INT32_MIN) {
    n = -count;
  } else if (!items && count == -1 && l->pendingItem) {
    n = 1;
    src = &l->pendingItem;
    pending = true;
  } else {
    return E_FAIL;
  }
  if (index < 0 || index >= l->count) index = l->count;
  if (n == 0) return S_OK;
  if (static_cast<int64_t>(l->count) + n > 0x7FFFFFFF) return E_OUTOFMEMORY;

  const size_t bytes = static_cast<size_t>(n) * l->stride;
  // Items taken from this list's own array must survive a reallocation.
  std::vector<BYTE> copy;
  const BYTE* s = static_cast<const BYTE*>(src);
  if (s >= l->items && s < l->items + static_cast<size_t>(l->allocated) * l->stride) {
    copy.assign(s, s + bytes);
    s = copy.data();
  } else if (pending) {
    copy.assign(s, s + bytes);
    s = copy.data();
  }
  if (l->allocated < l->count + n) {
    HRESULT hr = Grow(l, l->count + n - l->allocated);
    if (FAILED(hr)) return hr;
  }
  memmove(Slot(l, index + n), Slot(l, index), static_cast<size_t>(l->count - index) * l->stride);
  memcpy(Slot(l, index), s, bytes);
  l->count += n;
  // Only the insertion of the pending item itself consumes it; other forms
  // leave a pending item where it is, so that it is not lost.
  if (pending) l->pendingItem = nullptr;
  return S_OK;
}

HRESULT KVAPI KvList_DeleteList(tKVLIST* l, int first, int count, BOOL shrink) {
  if (!Live(l)) return E_INVALIDARG;
  if (!Allowed(l)) return E_FAIL;
  Hold hold(l);
  if (first < 0 && count < 0) {
    if (!l->pendingItem) return E_FAIL;
    ItemFree(l, l->pendingItem);
    l->pendingItem = nullptr;
    return S_OK;
  }
  if (count < 0) count = l->count - first;
  if (count < 1) return S_OK;
  if (first < 0 || first >= l->count) return E_FAIL;
  if (count > l->count - first) count = l->count - first;
  if (l->options & KVLIST_ALLOCATED_ITEMS)
    for (int i = first; i < first + count; ++i) ItemFree(l, SlotValue(l, i));
  memmove(Slot(l, first), Slot(l, first + count), static_cast<size_t>(l->count - first - count) * l->stride);
  memset(Slot(l, l->count - count), 0, static_cast<size_t>(count) * l->stride);
  l->count -= count;
  if (shrink && l->allocated - l->count > l->growBy) return Shrink(l, -1);
  return S_OK;
}

HRESULT KVAPI KvList_MoveRange(tKVLIST* l, int from, int to, int count) {
  if (!Live(l)) return E_INVALIDARG;
  if (!Allowed(l)) return E_FAIL;
  Hold hold(l);
  if (from < 0) return E_INVALIDARG;
  if (to < 0) to = 0;
  if (count < 0) count = l->count - (from > to ? from : to);
  if (static_cast<int64_t>(from) + count > l->count || static_cast<int64_t>(to) + count > l->count) return E_FAIL;
  if (count < 1 || from == to) return S_OK;

  const size_t bytes = static_cast<size_t>(count) * l->stride;
  BYTE stackBuffer[kMoveStackBytes];
  BYTE* block = stackBuffer;
  if (bytes > sizeof(stackBuffer)) {
    block = static_cast<BYTE*>(GlobalAlloc(GMEM_FIXED, bytes));
    if (!block) return E_OUTOFMEMORY;
  }
  memcpy(block, Slot(l, from), bytes);
  if (to < from)
    memmove(Slot(l, to + count), Slot(l, to), static_cast<size_t>(from - to) * l->stride);
  else
    memmove(Slot(l, from), Slot(l, from + count), static_cast<size_t>(to - from) * l->stride);
  memcpy(Slot(l, to), block, bytes);
  if (block != stackBuffer) GlobalFree(block);
  return S_OK;
}

HRESULT KVAPI KvList_ArrayForceItemCount(tKVLIST* l, int newCount, BOOL shrink) {
  if (!Live(l)) return E_INVALIDARG;
  if (!Allowed(l)) return E_FAIL;
  Hold hold(l);
  if (!(l->options & KVLIST_INPLACE_ITEMS)) return E_FAIL;
  if (newCount < 0) return E_INVALIDARG;
  if (newCount > l->allocated) {
    HRESULT hr = Grow(l, newCount - l->allocated);
    if (FAILED(hr)) return hr;
  }
  l->count = newCount;
  if (shrink && l->allocated - l->count > l->growBy) return Shrink(l, -1);
  return S_OK;
}

HRESULT KVAPI KvList_AllocItem(tKVLIST* l, DWORD size, void** item) {
  if (!item) return E_INVALIDARG;
  *item = nullptr;
  if (!Live(l)) return E_INVALIDARG;
  if (!Allowed(l)) return E_FAIL;
  Hold hold(l);
  if (!(l->options & KVLIST_ALLOCATED_ITEMS) || l->pendingItem) return E_FAIL;
  void* p = ItemAlloc(l, size);
  if (!p) return E_OUTOFMEMORY;
  l->pendingItem = p;
  *item = p;
  return S_OK;
}

HRESULT KVAPI KvList_AllocAndInsertItem(tKVLIST* l, const void* data, DWORD size, int index, int* outIndex) {
  if (outIndex) *outIndex = -1;
  if (!Live(l)) return E_INVALIDARG;
  if (!Allowed(l)) return E_FAIL;
  Hold hold(l);
  if (index < 0 || index >= l->count) index = l->count;
  void* p = nullptr;
  HRESULT hr = KvList_AllocItem(l, size, &p);
  if (FAILED(hr)) return hr;
  if (data) memcpy(p, data, size);
  hr = KvList_InsertList(l, index, nullptr, -1);
  if (FAILED(hr)) {
    ItemFree(l, p);
    l->pendingItem = nullptr;
    return hr;
  }
  if (outIndex) *outIndex = index;
  return S_OK;
}

HRESULT KVAPI KvList_ReAllocItem(tKVLIST* l, int index, DWORD size) {
  if (!Live(l)) return E_INVALIDARG;
  if (!Allowed(l)) return E_FAIL;
  Hold hold(l);
  if (!(l->options & KVLIST_ALLOCATED_ITEMS)) return E_FAIL;
  // The index is checked: a bad one would reallocate whatever the slot holds.
  if (index < 0 || index >= l->count || !SlotValue(l, index)) return E_FAIL;
  void* q = ItemRealloc(l, SlotValue(l, index), size);
  if (!q) return E_OUTOFMEMORY;
  *reinterpret_cast<void**>(Slot(l, index)) = q;
  return S_OK;
}

HRESULT KVAPI KvList_MoveItemsBetweenHeapLists(tKVLIST* dst, int destIndex, tKVLIST* src, int sourceIndex, int count) {
  if (!Live(dst) || !Live(src) || dst == src) return E_INVALIDARG;
  if (!Allowed(dst) || !Allowed(src)) return E_FAIL;
  Hold holdDst(dst);
  Hold holdSrc(src);
  if (!(dst->options & KVLIST_ALLOCATED_ITEMS) || !(src->options & KVLIST_ALLOCATED_ITEMS) || dst->pendingItem)
    return E_FAIL;
  if (destIndex < 0 || destIndex > dst->count) destIndex = dst->count;
  if (count < 0) count = src->count;
  if (count == 0) return S_OK;
  if (sourceIndex < 0 || static_cast<int64_t>(sourceIndex) + count > src->count) return E_FAIL;

  // Items can change hands only between lists that share the runtime
  // allocator; a list with a private heap frees (or drops) its items in that
  // heap, so every item is copied into the destination's allocator instead.
  const bool copy = dst->privateHeap || src->privateHeap;
  HRESULT hr = S_OK;
  src->options &= ~KVLIST_ALLOCATED_ITEMS;
  for (int i = sourceIndex + count - 1; i >= sourceIndex; --i) {
    void* item = SlotValue(src, i);
    void* moved = item;
    if (copy && item) {
      size_t size = ItemSize(src, item);
      moved = ItemAlloc(dst, static_cast<DWORD>(size));
      if (!moved) {
        hr = E_OUTOFMEMORY;
        break;
      }
      memcpy(moved, item, size);
    }
    hr = KvList_InsertList(dst, destIndex, &moved, -1);
    if (FAILED(hr)) {
      if (copy) ItemFree(dst, moved);
      break;
    }
    hr = KvList_DeleteList(src, i, 1, FALSE);
    if (copy) ItemFree(src, item);
    if (FAILED(hr)) break;
  }
  src->options |= KVLIST_ALLOCATED_ITEMS;
  dst->pendingItem = nullptr;
  return hr;
}

int KVAPI KvList_AllocSize(tKVLIST* l, int index) {
  if (!Live(l) || !Allowed(l)) return -1;
  Hold hold(l);
  if (index >= 0) {
    if (!(l->options & KVLIST_ALLOCATED_ITEMS)) return static_cast<int>(l->stride);
    if (index >= l->count) return -1;
    return static_cast<int>(ItemSize(l, SlotValue(l, index)));
  }
  size_t total = 0;
  if (l->options & KVLIST_ALLOCATED_ITEMS)
    for (int i = 0; i < l->count; ++i) total += ItemSize(l, SlotValue(l, i));
  total += GlobalSize(l->items);
  total += sizeof(tKVLIST);
  return static_cast<int>(total);
}

HRESULT KVAPI KvList_GrowAllocated(tKVLIST* l, int n) {
  if (!Live(l)) return E_INVALIDARG;
  if (!Allowed(l)) return E_FAIL;
  Hold hold(l);
  return Grow(l, n);
}

HRESULT KVAPI KvList_ShrinkAllocated(tKVLIST* l, int n) {
  if (!Live(l)) return E_INVALIDARG;
  if (!Allowed(l)) return E_FAIL;
  Hold hold(l);
  return Shrink(l, n);
}

int KVAPI KvList_FindSpecificItemRange(tKVLIST* l, int first, int count, const void* item) {
  if (!Live(l) || !Allowed(l)) return -1;
  Hold hold(l);
  if (!NormaliseRange(l, first, count)) return -1;
  const bool inplace = (l->options & KVLIST_INPLACE_ITEMS) != 0;
  if (inplace && !item) return -1;
  for (int i = first; i < first + count; ++i) {
    if (inplace ? memcmp(Slot(l, i), item, l->stride) == 0 : SlotValue(l, i) == item) return i;
  }
  return -1;
}

int KVAPI KvList_FindItemRange(tKVLIST* l, int first, int count, const void* key, KVLIST_MATCHPROC match) {
  if (!Live(l) || !Allowed(l) || !match) return -1;
  Hold hold(l);
  if (!NormaliseRange(l, first, count)) return -1;
  for (int i = first; i < first + count; ++i)
    if (match(key, ItemView(l, i)) == 0) return i;
  return -1;
}

int KVAPI KvList_FindSortedItemRange(tKVLIST* l, const void* key, int first, int count, KVLIST_COMPAREPROC compare) {
  if (!Live(l) || !Allowed(l) || !compare) return -1;
  Hold hold(l);
  if (!NormaliseRange(l, first, count)) return -1;
  return BinarySearch(l, key, first, count, compare, nullptr);
}

int KVAPI KvList_FindSortedInsertIndexRange(tKVLIST* l, const void* key, int first, int count,
                                            KVLIST_COMPAREPROC compare) {
  if (!Live(l) || !Allowed(l) || !compare) return -1;
  Hold hold(l);
  if (first < 0) first = 0;
  if (first > l->count) return -1;
  // An empty range keeps the order when the key goes at its start.
  if (!NormaliseRange(l, first, count)) return first;
  int at = first;
  BinarySearch(l, key, first, count, compare, &at);
  return at;
}

BOOL KVAPI KvList_IsValidIndexSlow(tKVLIST* l, int index) {
  if (!Live(l) || !Allowed(l)) return FALSE;
  Hold hold(l);
  return index >= 0 && index <= l->count - 1;
}

HRESULT KVAPI KvList_Sort(tKVLIST* l, DWORD criteria, KVLIST_COMPAREPROC compare) {
  if (!Live(l)) return E_INVALIDARG;
  if (!Allowed(l)) return E_FAIL;
  Hold hold(l);
  l->sortCriteria = criteria;
  if (!compare || l->count < 2) return S_OK;
  // Selection sort: the first of equal greatest items moves to the end.
  for (int end = l->count - 1; end >= 1; --end) {
    int maxi = 0;
    for (int j = 1; j <= end; ++j)
      if (compare(criteria, ItemView(l, j), ItemView(l, maxi)) > 0) maxi = j;
    SwapSlots(l, maxi, end);
  }
  return S_OK;
}

HRESULT KVAPI KvList_HeapSort(tKVLIST* l, DWORD criteria, KVLIST_COMPAREPROC compare) {
  if (!Live(l)) return E_INVALIDARG;
  if (!Allowed(l)) return E_FAIL;
  Hold hold(l);
  l->sortCriteria = criteria;
  if (!compare || l->count < 2) return S_OK;
  const int n = l->count;
  for (int k = n / 2; k >= 2; --k) SiftDown(l, k, n, criteria, compare);
  for (int m = n; m >= 2; --m) {
    SiftDown(l, 1, m, criteria, compare);
    SwapSlots(l, 0, m - 1);
  }
  return S_OK;
}

HRESULT KVAPI KvList_SortTo(tKVLIST* dst, tKVLIST* src, DWORD criteria, KVLIST_COMPAREPROC compare) {
  if (!Live(dst) || !Live(src) || dst == src) return E_INVALIDARG;
  if (!Allowed(dst) || !Allowed(src)) return E_FAIL;
  if (dst->stride != src->stride) return E_INVALIDARG;
  Hold hold(src);
  dst->sortCriteria = criteria;
  if (!compare) return S_OK;
  const bool inplace = (src->options & KVLIST_INPLACE_ITEMS) != 0;
  for (int i = 0; i < src->count; ++i) {
    const void* item = ItemView(src, i);
    int at = KvList_FindSortedInsertIndexRange(dst, item, 0, -1, compare);
    void* value = SlotValue(src, i);
    KvList_InsertList(dst, at, inplace ? static_cast<const void*>(Slot(src, i)) : &value, 1);
  }
  return S_OK;
}

LONG KVAPI KvList_GetUserData(tKVLIST* l) {
  if (!Live(l) || !Allowed(l)) return -1;
  return l->userData;
}

LONG KVAPI KvList_SetUserData(tKVLIST* l, LONG value) {
  if (!Live(l) || !Allowed(l)) return -1;
  return InterlockedExchange(&l->userData, value);
}

DWORD KVAPI KvList_GetCreateOptions(tKVLIST* l) { return Live(l) ? l->options : 0; }

DWORD KVAPI KvList_GetSortCriteria(tKVLIST* l) { return Live(l) ? l->sortCriteria : 0; }

DWORD KVAPI KvList_GetThreadOwner(tKVLIST* l) { return Live(l) ? l->ownerThread : 0; }

HRESULT KVAPI KvList_SetThreadOwner(tKVLIST* l, DWORD threadId) {
  if (!Live(l)) return E_INVALIDARG;
  l->ownerThread = threadId ? threadId : GetCurrentThreadId();
  return S_OK;
}

int KVAPI KvList_GetFileAndLine(tKVLIST*, wchar_t* buffer, int size) {
  if (buffer && size > 0) buffer[0] = 0;
  return -1;
}

}  // extern "C"
