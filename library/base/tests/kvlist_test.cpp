// KvList: creation rules, a randomised differential run of insert / delete /
// move against std::vector for every kind of list, both sorts and both binary
// searches against the standard library, pending items, capacity changes,
// caller-owned headers, heap-to-heap moves and concurrent use of a locked list.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "kvlist.h"

namespace {

// Items of the in-place lists: 6 bytes of data, created with item size 6 so
// the stride is 8; callers hand over whole slots, padding included.
struct Six {
  unsigned short a, b, c;
  unsigned short pad;
};

int KVAPI CompareWords(DWORD, const void* a, const void* b) {
  DWORD x = static_cast<DWORD>(reinterpret_cast<uintptr_t>(a));
  DWORD y = static_cast<DWORD>(reinterpret_cast<uintptr_t>(b));
  return x < y ? -1 : x > y ? 1 : 0;
}

// For allocated and in-place items: the first 32-bit word of the item.
int KVAPI CompareFirstWord(DWORD, const void* a, const void* b) {
  DWORD x = *static_cast<const DWORD*>(a);
  DWORD y = *static_cast<const DWORD*>(b);
  return x < y ? -1 : x > y ? 1 : 0;
}

// Descending when the criteria word is 1: the comparator sees the criteria.
int KVAPI CompareWithCriteria(DWORD criteria, const void* a, const void* b) {
  int r = CompareWords(0, a, b);
  return criteria == 1 ? -r : r;
}

int KVAPI MatchWord(const void* key, const void* item) { return key == item ? 0 : 1; }

struct Kind {
  const char* name;
  DWORD options;
};

const Kind kKinds[] = {
    {"values", 0},
    {"values, locked", KVLIST_LOCKED},
    {"in-place", KVLIST_INPLACE_ITEMS},
    {"in-place, locked", KVLIST_INPLACE_ITEMS | KVLIST_LOCKED},
    {"allocated", KVLIST_ALLOCATED_ITEMS},
    {"allocated, private heap", KVLIST_ALLOCATED_ITEMS | KVLIST_PRIVATE_HEAP},
    {"allocated, private heap, locked", KVLIST_ALLOCATED_ITEMS | KVLIST_PRIVATE_HEAP | KVLIST_LOCKED},
};

// Reads item i of any kind of list as the number it was created from.
DWORD ValueAt(const tKVLIST* l, int i) {
  const BYTE* slot = l->items + static_cast<size_t>(i) * l->stride;
  if (l->options & KVLIST_INPLACE_ITEMS) {
    const Six* s = reinterpret_cast<const Six*>(slot);
    return s->a | (static_cast<DWORD>(s->b) << 16);
  }
  void* p = *reinterpret_cast<void* const*>(slot);
  if (l->options & KVLIST_ALLOCATED_ITEMS) return *static_cast<const DWORD*>(p);
  return static_cast<DWORD>(reinterpret_cast<uintptr_t>(p));
}

HRESULT InsertValue(tKVLIST* l, int index, DWORD v) {
  if (l->options & KVLIST_INPLACE_ITEMS) {
    Six s = {static_cast<unsigned short>(v & 0xFFFF), static_cast<unsigned short>(v >> 16), 0x5A5A, 0};
    return KvList_InsertList(l, index, &s, 1);
  }
  if (l->options & KVLIST_ALLOCATED_ITEMS) return KvList_AllocAndInsertItem(l, &v, sizeof(v), index, nullptr);
  void* p = reinterpret_cast<void*>(static_cast<uintptr_t>(v));
  return KvList_InsertList(l, index, &p, 1);
}

std::vector<DWORD> Contents(const tKVLIST* l) {
  std::vector<DWORD> out;
  for (int i = 0; i < l->count; ++i) out.push_back(ValueAt(l, i));
  return out;
}

void CheckInvariants(const tKVLIST* l) {
  ASSERT_LE(0, l->count);
  ASSERT_LE(l->count, l->allocated);
  for (size_t b = static_cast<size_t>(l->count) * l->stride; b < static_cast<size_t>(l->allocated) * l->stride; ++b)
    ASSERT_EQ(l->items[b], 0) << "free slot bytes are zero (byte " << b << ")";
}

tKVLIST* Create(DWORD options, int initial = 0, int grow = 4) {
  tKVLIST* l = nullptr;
  DWORD size = (options & KVLIST_INPLACE_ITEMS) ? 6 : 4;
  EXPECT_EQ(KvList_CreateExZ(&l, size, initial, grow, options, 0, 0, 0), S_OK);
  return l;
}

TEST(KvListCreate, TableOfSizesAndOptions) {
  struct Case {
    DWORD itemSize;
    int initial, grow;
    DWORD options;
    HRESULT hr;
    DWORD stride;
    int allocated, growBy;
  } cases[] = {
      {6, 0, 0, KVLIST_INPLACE_ITEMS, S_OK, 8, 16, 16},
      {6, 0, 100000, KVLIST_INPLACE_ITEMS, S_OK, 8, 66560, 66560},
      {12, 1, 1, KVLIST_INPLACE_ITEMS, S_OK, 12, 4, 4},
      // Lists of pointers have pointer-sized slots.
      {8, 20, 16, 0, S_OK, sizeof(void*), 32, 16},
      {8, -3, -3, KVLIST_ALLOCATED_ITEMS, S_OK, sizeof(void*), 16, 16},
      {8, 5, 4, KVLIST_ALLOCATED_ITEMS | KVLIST_PRIVATE_HEAP, S_OK, sizeof(void*), 8, 4},
      {8, 5, 4, KVLIST_ALLOCATED_ITEMS | KVLIST_INPLACE_ITEMS, E_FAIL, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "size " << c.itemSize << " initial " << c.initial << " grow " << c.grow
                                    << " options 0x" << std::hex << c.options);
    tKVLIST* l = reinterpret_cast<tKVLIST*>(1);
    HRESULT hr = KvList_CreateExZ(&l, c.itemSize, c.initial, c.grow, c.options, 0, 0, 0);
    EXPECT_EQ(hr, c.hr);
    if (FAILED(hr)) {
      EXPECT_EQ(l, nullptr);
      continue;
    }
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->stride, c.stride);
    EXPECT_EQ(l->allocated, c.allocated);
    EXPECT_EQ(l->growBy, c.growBy);
    EXPECT_EQ(l->count, 0);
    EXPECT_EQ(KvList_GetCreateOptions(l), c.options | KVLIST_NO_OWNER_CHECK);
    EXPECT_EQ(KvList_GetThreadOwner(l), GetCurrentThreadId());
    EXPECT_TRUE(KvList_IsList(l, sizeof(tKVLIST)));
    EXPECT_FALSE(KvList_IsList(l, sizeof(tKVLIST) - 1));
    EXPECT_TRUE(KvList_IsListFast(l));
    EXPECT_EQ(KvList_Destroy(l), S_OK);
  }
  EXPECT_EQ(KvList_Destroy(nullptr), S_OK);
}

// One random sequence of operations per kind of list, mirrored on a vector.
TEST(KvListOperations, MatchesVectorModelForEveryKind) {
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.name);
    tKVLIST* l = Create(kind.options);
    ASSERT_NE(l, nullptr);
    std::vector<DWORD> model;
    std::mt19937 rng(1234);
    DWORD next = 1;
    for (int step = 0; step < 3000; ++step) {
      int op = static_cast<int>(rng() % 10);
      int n = static_cast<int>(model.size());
      SCOPED_TRACE(testing::Message() << "step " << step << " op " << op << " size " << n);
      if (op < 5) {
        // Insert at a random position, sometimes out of range (appends).
        int index = static_cast<int>(rng() % (n + 3)) - 1;
        DWORD v = next++ * 7919u;
        ASSERT_EQ(InsertValue(l, index, v), S_OK);
        if (index < 0 || index >= n) index = n;
        model.insert(model.begin() + index, v);
      } else if (op < 8) {
        int first = n ? static_cast<int>(rng() % n) : 0;
        int count = static_cast<int>(rng() % 4) - 1;  // -1 .. 2
        if (count < 0 && rng() % 4) count = 1;       // "to the end" now and then
        BOOL shrink = rng() % 2;
        HRESULT hr = KvList_DeleteList(l, first, count, shrink);
        if (n == 0 && count != 0) {
          EXPECT_TRUE(hr == S_OK || hr == E_FAIL);
        } else {
          ASSERT_EQ(hr, S_OK);
          int del = count < 0 ? n - first : std::min(count, n - first);
          model.erase(model.begin() + first, model.begin() + first + del);
        }
      } else if (n > 0) {
        int from = static_cast<int>(rng() % n);
        int to = static_cast<int>(rng() % n);
        int count = 1 + static_cast<int>(rng() % std::max(1, n - std::max(from, to)));
        ASSERT_EQ(KvList_MoveRange(l, from, to, count), S_OK);
        std::vector<DWORD> block(model.begin() + from, model.begin() + from + count);
        model.erase(model.begin() + from, model.begin() + from + count);
        model.insert(model.begin() + to, block.begin(), block.end());
      }
      ASSERT_EQ(Contents(l), model);
      CheckInvariants(l);
    }
    EXPECT_EQ(KvList_Destroy(l), S_OK);
  }
}

TEST(KvListOperations, InsertAndDeleteEdgeCases) {
  tKVLIST* l = Create(0);
  for (DWORD v : {10u, 20u, 30u, 40u}) ASSERT_EQ(InsertValue(l, -1, v), S_OK);
  ASSERT_EQ(InsertValue(l, 4, 50), S_OK);  // index equal to count appends
  EXPECT_EQ(Contents(l), (std::vector<DWORD>{10, 20, 30, 40, 50}));
  EXPECT_EQ(KvList_InsertList(l, 0, nullptr, -1), E_FAIL);  // no pending item
  EXPECT_EQ(KvList_InsertList(l, 0, nullptr, 1), E_FAIL);
  EXPECT_EQ(KvList_DeleteList(l, 5, 1, FALSE), E_FAIL);  // first = count
  EXPECT_EQ(KvList_DeleteList(l, 1, 0, FALSE), S_OK);    // nothing
  EXPECT_EQ(KvList_DeleteList(l, 2, -1, FALSE), S_OK);   // to the end
  EXPECT_EQ(Contents(l), (std::vector<DWORD>{10, 20}));
  EXPECT_EQ(KvList_DeleteList(l, 1, 100, FALSE), S_OK);  // clamped
  EXPECT_EQ(Contents(l), (std::vector<DWORD>{10}));
  EXPECT_EQ(KvList_MoveRange(l, -1, 0, 1), E_INVALIDARG);
  EXPECT_EQ(KvList_MoveRange(l, 0, 1, 1), E_FAIL);
  EXPECT_TRUE(KvList_IsValidIndexSlow(l, 0));
  EXPECT_FALSE(KvList_IsValidIndexSlow(l, 1));
  EXPECT_FALSE(KvList_IsValidIndexSlow(l, -1));
  // Inserting items taken from the list's own array, across a growth.
  for (int i = 0; i < 40; ++i) ASSERT_EQ(KvList_InsertList(l, 0, l->items + 0, 1), S_OK);
  EXPECT_EQ(l->count, 41);
  for (int i = 0; i < 41; ++i) EXPECT_EQ(ValueAt(l, i), 10u);
  KvList_Destroy(l);
}

TEST(KvListSorting, BothSortsOrderLikeStdSort) {
  std::mt19937 rng(77);
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.name);
    for (int sorter = 0; sorter < 2; ++sorter) {
      for (int n : {0, 1, 2, 3, 17, 200}) {
        tKVLIST* l = Create(kind.options);
        std::vector<DWORD> model;
        for (int i = 0; i < n; ++i) {
          DWORD v = rng() % 50;  // duplicates on purpose
          model.push_back(v);
          InsertValue(l, -1, v);
        }
        KVLIST_COMPAREPROC cmp =
            (kind.options & (KVLIST_INPLACE_ITEMS | KVLIST_ALLOCATED_ITEMS)) ? CompareFirstWord : CompareWords;
        HRESULT hr = sorter ? KvList_HeapSort(l, 42, cmp) : KvList_Sort(l, 42, cmp);
        ASSERT_EQ(hr, S_OK);
        std::sort(model.begin(), model.end());
        EXPECT_EQ(Contents(l), model) << (sorter ? "heap sort" : "selection sort") << " n=" << n;
        EXPECT_EQ(KvList_GetSortCriteria(l), 42u);
        KvList_Destroy(l);
      }
    }
  }
  // [3, 1, 2] and the criteria word reaching the comparator.
  for (int sorter = 0; sorter < 2; ++sorter) {
    tKVLIST* l = Create(0);
    for (DWORD v : {3u, 1u, 2u}) InsertValue(l, -1, v);
    sorter ? KvList_HeapSort(l, 0, CompareWithCriteria) : KvList_Sort(l, 0, CompareWithCriteria);
    EXPECT_EQ(Contents(l), (std::vector<DWORD>{1, 2, 3}));
    sorter ? KvList_HeapSort(l, 1, CompareWithCriteria) : KvList_Sort(l, 1, CompareWithCriteria);
    EXPECT_EQ(Contents(l), (std::vector<DWORD>{3, 2, 1}));
    EXPECT_EQ(KvList_Sort(l, 5, nullptr), S_OK);
    EXPECT_EQ(KvList_GetSortCriteria(l), 5u);
    KvList_Destroy(l);
  }
}

TEST(KvListSearch, BinarySearchesAgreeWithStdBounds) {
  std::mt19937 rng(99);
  for (int n = 0; n <= 40; ++n) {
    std::vector<DWORD> model;
    for (int i = 0; i < n; ++i) model.push_back(2 * (rng() % 30) + 2);  // even values, duplicates
    std::sort(model.begin(), model.end());
    tKVLIST* l = Create(0);
    for (DWORD v : model) InsertValue(l, -1, v);
    for (DWORD key = 0; key <= 64; ++key) {
      SCOPED_TRACE(testing::Message() << "n=" << n << " key=" << key);
      const void* k = reinterpret_cast<const void*>(static_cast<uintptr_t>(key));
      int found = KvList_FindSortedItemRange(l, k, 0, -1, CompareWords);
      auto lo = std::lower_bound(model.begin(), model.end(), key) - model.begin();
      auto hi = std::upper_bound(model.begin(), model.end(), key) - model.begin();
      if (lo == hi) {
        EXPECT_EQ(found, -1);
      } else {
        EXPECT_GE(found, lo);
        EXPECT_LT(found, hi);
      }
      int at = KvList_FindSortedInsertIndexRange(l, k, 0, -1, CompareWords);
      EXPECT_GE(at, lo);
      EXPECT_LE(at, hi);
      if (lo == hi) {
        EXPECT_EQ(at, lo);
      }
      // Sub-ranges: the answer stays inside the range.
      if (n >= 4) {
        int sub = KvList_FindSortedInsertIndexRange(l, k, 1, n - 2, CompareWords);
        EXPECT_GE(sub, 1);
        EXPECT_LE(sub, n - 1);
      }
    }
    EXPECT_EQ(KvList_FindSortedInsertIndexRange(l, nullptr, n + 1, -1, CompareWords), -1);
    EXPECT_EQ(KvList_FindSortedInsertIndexRange(l, nullptr, n, -1, CompareWords), n);
    KvList_Destroy(l);
  }
  tKVLIST* empty = Create(0);
  EXPECT_EQ(KvList_FindSortedInsertIndexRange(empty, nullptr, 0, -1, CompareWords), 0);
  EXPECT_EQ(KvList_FindSortedItemRange(empty, nullptr, 0, -1, CompareWords), -1);
  KvList_Destroy(empty);
}

TEST(KvListSearch, LinearSearchesAndRanges) {
  tKVLIST* l = Create(0);
  for (DWORD v : {5u, 6u, 7u, 5u, 9u}) InsertValue(l, -1, v);
  auto key = [](DWORD v) { return reinterpret_cast<const void*>(static_cast<uintptr_t>(v)); };
  struct Case {
    int first, count;
    DWORD value;
    int expected;
  } cases[] = {{0, -1, 5, 0}, {1, -1, 5, 3}, {1, 2, 5, -1}, {-4, 100, 9, 4}, {5, -1, 5, -1}, {0, 0, 5, -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.first << "," << c.count << " value " << c.value);
    EXPECT_EQ(KvList_FindSpecificItemRange(l, c.first, c.count, key(c.value)), c.expected);
    EXPECT_EQ(KvList_FindItemRange(l, c.first, c.count, key(c.value), MatchWord), c.expected);
  }
  KvList_Destroy(l);

  tKVLIST* p = Create(KVLIST_INPLACE_ITEMS);
  for (DWORD v : {1u, 2u, 3u}) InsertValue(p, -1, v);
  Six probe = {2, 0, 0x5A5A, 0};
  EXPECT_EQ(KvList_FindSpecificItemRange(p, 0, -1, &probe), 1);
  probe.c = 0;
  EXPECT_EQ(KvList_FindSpecificItemRange(p, 0, -1, &probe), -1);
  KvList_Destroy(p);
}

TEST(KvListAllocatedItems, PendingItemRules) {
  for (DWORD options : {KVLIST_ALLOCATED_ITEMS, KVLIST_ALLOCATED_ITEMS | KVLIST_PRIVATE_HEAP}) {
    SCOPED_TRACE(testing::Message() << "options 0x" << std::hex << options);
    tKVLIST* l = Create(options);
    DWORD v = 1;
    EXPECT_EQ(KvList_InsertList(l, 0, &v, 1), E_FAIL);  // copying slots into an allocated list
    void* item = reinterpret_cast<void*>(1);
    ASSERT_EQ(KvList_AllocItem(l, 16, &item), S_OK);
    ASSERT_NE(item, nullptr);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(static_cast<BYTE*>(item)[i], 0);
    void* second = reinterpret_cast<void*>(1);
    EXPECT_EQ(KvList_AllocItem(l, 16, &second), E_FAIL);
    EXPECT_EQ(second, nullptr);
    int at = 7;
    EXPECT_EQ(KvList_AllocAndInsertItem(l, &v, 4, 0, &at), E_FAIL);  // the pending item is in the way
    EXPECT_EQ(at, -1);
    *static_cast<DWORD*>(item) = 77;
    ASSERT_EQ(KvList_InsertList(l, 0, nullptr, -1), S_OK);
    EXPECT_EQ(l->pendingItem, nullptr);
    EXPECT_EQ(Contents(l), std::vector<DWORD>{77});
    EXPECT_EQ(KvList_DeleteList(l, -1, -1, FALSE), E_FAIL);  // no pending item to drop
    ASSERT_EQ(KvList_AllocItem(l, 8, &item), S_OK);
    EXPECT_EQ(KvList_DeleteList(l, -1, -1, FALSE), S_OK);
    EXPECT_EQ(l->pendingItem, nullptr);
    v = 88;
    ASSERT_EQ(KvList_AllocAndInsertItem(l, &v, 4, 99, &at), S_OK);
    EXPECT_EQ(at, 1);
    // Reallocation keeps the contents and zero-fills the growth.
    ASSERT_EQ(KvList_ReAllocItem(l, 1, 64), S_OK);
    EXPECT_EQ(ValueAt(l, 1), 88u);
    EXPECT_GE(KvList_AllocSize(l, 1), 64);
    for (int i = 4; i < 64; ++i) EXPECT_EQ(static_cast<BYTE*>(*reinterpret_cast<void**>(l->items + l->stride))[i], 0);
    EXPECT_EQ(KvList_ReAllocItem(l, 2, 8), E_FAIL);  // index beyond the items
    EXPECT_EQ(KvList_ReAllocItem(l, -1, 8), E_FAIL);
    EXPECT_GT(KvList_AllocSize(l, -1), static_cast<int>(sizeof(tKVLIST)) + 64);
    // A pending item left behind is released with the list.
    ASSERT_EQ(KvList_AllocItem(l, 8, &item), S_OK);
    EXPECT_EQ(KvList_Destroy(l), S_OK);
  }
  tKVLIST* plain = Create(0);
  void* item = nullptr;
  EXPECT_EQ(KvList_AllocItem(plain, 4, &item), E_FAIL);
  EXPECT_EQ(KvList_ReAllocItem(plain, 0, 4), E_FAIL);
  EXPECT_EQ(KvList_AllocSize(plain, 0), static_cast<int>(sizeof(void*)));
  KvList_Destroy(plain);
}

TEST(KvListCapacity, ShrinkNeverCutsLiveItems) {
  struct Case {
    int items;
    int shrinkBy;
  } cases[] = {{10, -1}, {10, 1000}, {10, 13}, {10, 3}, {0, 1000}, {31, 1000}, {32, 5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.items << " items, shrink by " << c.shrinkBy);
    tKVLIST* l = Create(0, 64, 4);
    for (int i = 0; i < c.items; ++i) InsertValue(l, -1, i + 1);
    std::vector<DWORD> before = Contents(l);
    int allocatedBefore = l->allocated;
    ASSERT_EQ(KvList_ShrinkAllocated(l, c.shrinkBy), S_OK);
    EXPECT_GE(l->allocated, l->count);
    EXPECT_LE(l->allocated, allocatedBefore);
    EXPECT_EQ((allocatedBefore - l->allocated) % l->growBy, 0);
    EXPECT_EQ(Contents(l), before);
    // The list still works after shrinking.
    for (int i = 0; i < 9; ++i) ASSERT_EQ(InsertValue(l, -1, 1000 + i), S_OK);
    EXPECT_EQ(l->count, c.items + 9);
    CheckInvariants(l);
    KvList_Destroy(l);
  }
  tKVLIST* l = Create(0, 4, 4);
  ASSERT_EQ(KvList_GrowAllocated(l, 5), S_OK);
  EXPECT_EQ(l->allocated, 12);
  ASSERT_EQ(KvList_GrowAllocated(l, 0), S_OK);
  EXPECT_EQ(l->allocated, 16);
  // Delete with shrink releases whole steps of spare capacity.
  for (int i = 0; i < 16; ++i) InsertValue(l, -1, i);
  ASSERT_EQ(KvList_DeleteList(l, 2, -1, TRUE), S_OK);
  EXPECT_EQ(l->count, 2);
  EXPECT_LE(l->allocated - l->count, l->growBy);
  KvList_Destroy(l);
}

TEST(KvListCapacity, ForcedItemCountOfInPlaceLists) {
  tKVLIST* l = Create(KVLIST_INPLACE_ITEMS, 4, 4);
  EXPECT_EQ(KvList_ArrayForceItemCount(l, 10, FALSE), S_OK);
  EXPECT_EQ(l->count, 10);
  EXPECT_GE(l->allocated, 10);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(ValueAt(l, i), 0u);
  EXPECT_EQ(KvList_ArrayForceItemCount(l, 1, TRUE), S_OK);
  EXPECT_EQ(l->count, 1);
  EXPECT_LE(l->allocated - l->count, l->growBy);
  EXPECT_EQ(KvList_ArrayForceItemCount(l, -1, FALSE), E_INVALIDARG);
  KvList_Destroy(l);
  tKVLIST* v = Create(0);
  EXPECT_EQ(KvList_ArrayForceItemCount(v, 3, FALSE), E_FAIL);
  KvList_Destroy(v);
}

TEST(KvListHeaps, MovingBetweenListsKeepsOrderAndOwnership) {
  const DWORD a = KVLIST_ALLOCATED_ITEMS, h = KVLIST_ALLOCATED_ITEMS | KVLIST_PRIVATE_HEAP;
  struct Case {
    DWORD dst, src;
    int destIndex, sourceIndex, count;
    std::vector<DWORD> expectDst, expectSrc;
  } cases[] = {
      {a, a, 1, 1, 2, {100, 2, 3, 200}, {1, 4}},
      {h, a, -1, 0, -1, {100, 200, 1, 2, 3, 4}, {}},
      {a, h, 0, 2, 2, {3, 4, 100, 200}, {1, 2}},
      {h, h, 2, 0, 3, {100, 200, 1, 2, 3}, {4}},
      {h, h, 0, 3, 0, {100, 200}, {1, 2, 3, 4}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << "dst 0x" << c.dst << " src 0x" << c.src << std::dec << " at "
                                    << c.destIndex << " from " << c.sourceIndex << " count " << c.count);
    tKVLIST* dst = Create(c.dst);
    tKVLIST* src = Create(c.src);
    for (DWORD v : {100u, 200u}) InsertValue(dst, -1, v);
    for (DWORD v : {1u, 2u, 3u, 4u}) InsertValue(src, -1, v);
    ASSERT_EQ(KvList_MoveItemsBetweenHeapLists(dst, c.destIndex, src, c.sourceIndex, c.count), S_OK);
    EXPECT_EQ(Contents(src), c.expectSrc);
    EXPECT_EQ(KvList_GetCreateOptions(src) & KVLIST_ALLOCATED_ITEMS, KVLIST_ALLOCATED_ITEMS);
    // Destroying the source (and its private heap) must leave the moved items
    // intact, and the destination must be able to free them.
    KvList_Destroy(src);
    for (int i = 0; i < 50; ++i) InsertValue(dst, -1, 0xDEAD0000u + i);  // reuse freed memory
    std::vector<DWORD> got = Contents(dst);
    got.resize(c.expectDst.size());
    EXPECT_EQ(got, c.expectDst);
    EXPECT_EQ(KvList_DeleteList(dst, 0, -1, TRUE), S_OK);
    KvList_Destroy(dst);
  }
  tKVLIST* plain = Create(0);
  tKVLIST* owned = Create(a);
  EXPECT_EQ(KvList_MoveItemsBetweenHeapLists(plain, 0, owned, 0, 1), E_FAIL);
  InsertValue(owned, -1, 1);
  EXPECT_EQ(KvList_MoveItemsBetweenHeapLists(owned, 0, owned, 0, 1), E_INVALIDARG);
  tKVLIST* other = Create(a);
  EXPECT_EQ(KvList_MoveItemsBetweenHeapLists(other, 0, owned, 1, 1), E_FAIL);
  void* pending = nullptr;
  KvList_AllocItem(other, 4, &pending);
  EXPECT_EQ(KvList_MoveItemsBetweenHeapLists(other, 0, owned, 0, 1), E_FAIL);
  KvList_Destroy(plain);
  KvList_Destroy(owned);
  KvList_Destroy(other);
}

TEST(KvListHeaders, CallerOwnedHeaderAndConversion) {
  tKVLIST header;
  memset(&header, 0xCC, sizeof(header));
  tKVLIST* l = &header;
  ASSERT_EQ(KvList_CreateExZ(&l, 4, 0, 0, KVLIST_CALLER_HEADER | KVLIST_LOCKED, 0, 0, 0), S_OK);
  EXPECT_EQ(l, &header);
  InsertValue(l, -1, 5);
  EXPECT_EQ(KvList_Destroy(l), S_OK);
  EXPECT_EQ(header.magic, 0u);  // the caller's memory is not freed, only marked dead

  tKVLIST* none = nullptr;
  EXPECT_EQ(KvList_CreateExZ(&none, 4, 0, 0, KVLIST_CALLER_HEADER, 0, 0, 0), E_FAIL);

  tKVLIST* heapHeader = Create(KVLIST_LOCKED);
  for (DWORD v : {1u, 2u, 3u}) InsertValue(heapHeader, -1, v);
  tKVLIST moved;
  EXPECT_EQ(KvList_ConvertToInPlace(nullptr, &moved), E_INVALIDARG);
  ASSERT_EQ(KvList_ConvertToInPlace(&heapHeader, &moved), S_OK);
  EXPECT_EQ(heapHeader, nullptr);
  EXPECT_EQ(Contents(&moved), (std::vector<DWORD>{1, 2, 3}));
  EXPECT_TRUE(KvList_GetCreateOptions(&moved) & KVLIST_CALLER_HEADER);
  InsertValue(&moved, 0, 0);  // the lock still works
  tKVLIST* again = &moved;
  tKVLIST spare;
  EXPECT_EQ(KvList_ConvertToInPlace(&again, &spare), E_FAIL);
  EXPECT_EQ(KvList_Destroy(&moved), S_OK);
}

TEST(KvListAccessors, UserDataOwnerAndFileLine) {
  tKVLIST* l = Create(0);
  EXPECT_EQ(KvList_GetUserData(l), 0);
  EXPECT_EQ(KvList_SetUserData(l, 17), 0);
  EXPECT_EQ(KvList_SetUserData(l, 18), 17);
  EXPECT_EQ(KvList_GetUserData(l), 18);
  EXPECT_EQ(KvList_SetThreadOwner(l, 1234), S_OK);
  EXPECT_EQ(KvList_GetThreadOwner(l), 1234u);
  EXPECT_EQ(KvList_SetThreadOwner(l, 0), S_OK);
  EXPECT_EQ(KvList_GetThreadOwner(l), GetCurrentThreadId());
  wchar_t buf[8] = L"xyz";
  EXPECT_EQ(KvList_GetFileAndLine(l, buf, 8), -1);
  EXPECT_EQ(buf[0], 0);
  // A header without the no-owner bit accepts its owner thread only.
  l->options &= ~KVLIST_NO_OWNER_CHECK;
  l->ownerThread = GetCurrentThreadId() + 1;
  EXPECT_EQ(InsertValue(l, -1, 1), E_FAIL);
  EXPECT_EQ(KvList_GetUserData(l), -1);
  EXPECT_EQ(KvList_FindSpecificItemRange(l, 0, -1, nullptr), -1);
  EXPECT_FALSE(KvList_IsValidIndexSlow(l, 0));
  l->ownerThread = GetCurrentThreadId();
  EXPECT_EQ(InsertValue(l, -1, 1), S_OK);
  KvList_Destroy(l);
}

TEST(KvListLocking, ConcurrentInsertsIntoALockedList) {
  for (DWORD options : {KVLIST_LOCKED, KVLIST_LOCKED | KVLIST_ALLOCATED_ITEMS | KVLIST_PRIVATE_HEAP}) {
    tKVLIST* l = Create(options);
    const int threads = 4, perThread = 500;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
      workers.emplace_back([l, t] {
        for (int i = 0; i < perThread; ++i) InsertValue(l, i % 3 ? 0 : -1, static_cast<DWORD>(t * perThread + i + 1));
      });
    for (auto& w : workers) w.join();
    std::vector<DWORD> all = Contents(l);
    std::sort(all.begin(), all.end());
    ASSERT_EQ(all.size(), static_cast<size_t>(threads * perThread));
    for (int i = 0; i < threads * perThread; ++i) EXPECT_EQ(all[i], static_cast<DWORD>(i + 1));
    KvList_Destroy(l);
  }
}

TEST(KvListSorting, SortToMergesIntoSortedDestination) {
  tKVLIST* src = Create(0);
  tKVLIST* dst = Create(0);
  for (DWORD v : {9u, 3u, 7u, 3u, 1u}) InsertValue(src, -1, v);
  for (DWORD v : {2u, 8u}) InsertValue(dst, -1, v);
  EXPECT_EQ(KvList_SortTo(dst, src, 3, CompareWords), S_OK);
  EXPECT_EQ(Contents(dst), (std::vector<DWORD>{1, 2, 3, 3, 7, 8, 9}));
  EXPECT_EQ(KvList_GetSortCriteria(dst), 3u);
  EXPECT_EQ(Contents(src).size(), 5u);
  // Slots of another width (12 bytes: neither a 32-bit nor a 64-bit pointer) are refused.
  tKVLIST* wide = nullptr;
  ASSERT_EQ(KvList_CreateExZ(&wide, 12, 0, 4, KVLIST_INPLACE_ITEMS, 0, 0, 0), S_OK);
  EXPECT_EQ(KvList_SortTo(wide, src, 0, CompareWords), E_INVALIDARG);
  KvList_Destroy(src);
  KvList_Destroy(dst);
  KvList_Destroy(wide);
}

}  // namespace
