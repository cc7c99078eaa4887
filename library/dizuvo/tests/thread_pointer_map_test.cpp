// The per-thread pointer map: results of every operation, move-to-front,
// duplicates, and iteration order.
#include <gtest/gtest.h>

#include <vector>

#include "kvthreadptrmap.h"

namespace {

IUnknown* Fake(UINT_PTR n) { return reinterpret_cast<IUnknown*>(n * 16); }

std::vector<DWORD> Keys(const CKvThreadPointerMap& map, UINT bucket) {
  std::vector<DWORD> keys;
  for (const CKvThreadPointerMap::Node* n = map.Head(bucket); n; n = n->next) keys.push_back(n->key);
  return keys;
}

TEST(ThreadPointerMap, ResultsBeforeAndAfterInit) {
  CKvThreadPointerMap map;
  IUnknown** found = nullptr;
  IUnknown* value = Fake(1);
  EXPECT_EQ(map.Find(1, 0, &found), E_FAIL);
  EXPECT_EQ(map.Insert(1, 0, &value), E_FAIL);
  ASSERT_EQ(map.Init(1), S_OK);
  EXPECT_EQ(map.bucketCount(), 2u);  // one more than asked for
  EXPECT_EQ(map.Find(1, 0, &found), KV_E_NOTFOUND);
  EXPECT_EQ(map.Find(1, 2, &found), E_INVALIDARG);
  EXPECT_EQ(map.Find(1, 0, nullptr), E_INVALIDARG);
  EXPECT_EQ(map.Insert(1, 2, &value), E_INVALIDARG);
  EXPECT_EQ(map.Insert(1, 0, &value), S_OK);
  EXPECT_EQ(map.Find(2, 0, &found), KV_E_NOTFOUND);
  ASSERT_EQ(map.Find(1, 0, &found), S_OK);
  EXPECT_EQ(*found, Fake(1));
  // The value is found in place: writing through the address changes it.
  *found = Fake(7);
  ASSERT_EQ(map.Find(1, 0, &found), S_OK);
  EXPECT_EQ(*found, Fake(7));
  map.Clear();
  EXPECT_FALSE(map.initialised());
  EXPECT_EQ(map.count(), 0u);
  EXPECT_EQ(map.bucketCount(), 0u);
  EXPECT_EQ(map.Find(1, 0, &found), E_FAIL);
}

TEST(ThreadPointerMap, FindMovesToFrontAndDuplicatesAreRefused) {
  CKvThreadPointerMap map;
  ASSERT_EQ(map.Init(1), S_OK);
  for (DWORD k = 1; k <= 4; ++k) {
    IUnknown* v = Fake(k);
    ASSERT_EQ(map.Insert(k, 0, &v), S_OK);
  }
  EXPECT_EQ(Keys(map, 0), (std::vector<DWORD>{4, 3, 2, 1}));  // inserted at the head
  IUnknown** found = nullptr;
  ASSERT_EQ(map.Find(2, 0, &found), S_OK);
  EXPECT_EQ(Keys(map, 0), (std::vector<DWORD>{2, 4, 3, 1}));
  ASSERT_EQ(map.Find(1, 0, &found), S_OK);  // the tail
  EXPECT_EQ(Keys(map, 0), (std::vector<DWORD>{1, 2, 4, 3}));
  ASSERT_EQ(map.Find(1, 0, &found), S_OK);  // already the head
  EXPECT_EQ(Keys(map, 0), (std::vector<DWORD>{1, 2, 4, 3}));
  IUnknown* other = Fake(99);
  EXPECT_EQ(map.Insert(4, 0, &other), KV_E_DUPLICATE);
  EXPECT_EQ(map.count(), 4u);
  ASSERT_EQ(map.Find(4, 0, &found), S_OK);
  EXPECT_EQ(*found, Fake(4));  // unchanged by the refused insert
}

TEST(ThreadPointerMap, IterationVisitsBucketZeroThenOneEachFromItsHead) {
  CKvThreadPointerMap map;
  EXPECT_TRUE(map.Begin() == map.End());
  ASSERT_EQ(map.Init(1), S_OK);
  EXPECT_TRUE(map.Begin() == map.End());
  IUnknown* v = Fake(1);
  ASSERT_EQ(map.Insert(10, 1, &v), S_OK);
  ASSERT_EQ(map.Insert(11, 0, &v), S_OK);
  ASSERT_EQ(map.Insert(12, 0, &v), S_OK);
  std::vector<DWORD> seen;
  for (CKvThreadPointerMap::Iterator it = map.Begin(); it != map.End(); it.Next()) seen.push_back(it.node()->key);
  EXPECT_EQ(seen, (std::vector<DWORD>{12, 11, 10}));
}

}  // namespace
