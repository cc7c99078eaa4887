// A small chained map from a thread id to an interface pointer: the per-thread
// proxy cache of a blanket's holder. The caller picks the bucket (the holder
// always uses bucket 0), so in practice it is one singly linked list whose
// lookups move the entry found to the front. It never grows, never rehashes and
// never removes a single entry; Clear frees everything.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "kvresult.h"

class CKvThreadPointerMap {
 public:
  struct Node {
    DWORD key;        // thread id
    IUnknown* value;  // interface pointer valid on that thread
    Node* next;
  };

  // Position in the map: bucket index and node (null at the end).
  class Iterator {
   public:
    Iterator(UINT bucket, Node* node, const CKvThreadPointerMap* map) : bucket_(bucket), node_(node), map_(map) {}
    Iterator& Next();
    Node* node() const { return node_; }
    bool operator==(const Iterator& other) const { return map_ == other.map_ && node_ == other.node_; }
    bool operator!=(const Iterator& other) const { return !(*this == other); }

   private:
    UINT bucket_;
    Node* node_;
    const CKvThreadPointerMap* map_;
  };

  CKvThreadPointerMap() = default;
  ~CKvThreadPointerMap() { Clear(); }
  CKvThreadPointerMap(const CKvThreadPointerMap&) = delete;
  CKvThreadPointerMap& operator=(const CKvThreadPointerMap&) = delete;

  // n + 1 empty buckets. E_OUTOFMEMORY leaves the map without buckets.
  HRESULT Init(UINT n);
  // S_OK with *value pointing at the stored pointer; the node moves to the
  // head of its chain. E_FAIL (not initialised), E_INVALIDARG (bucket or out),
  // 0x8004E00A (absent).
  HRESULT Find(DWORD key, UINT bucket, IUnknown*** value);
  // A new node at the head of the chain. E_FAIL, E_INVALIDARG, 0x8004E0A9 when
  // the key is present (map unchanged), E_OUTOFMEMORY.
  HRESULT Insert(DWORD key, UINT bucket, IUnknown* const* value);
  // Frees every node and the bucket array; zeroes every field. The stored
  // pointers are not released (the holder releases them first).
  void Clear();

  Iterator Begin() const;
  Iterator End() const { return Iterator(0, nullptr, this); }

  bool initialised() const { return initialised_ != 0; }
  UINT count() const { return count_; }
  UINT bucketCount() const { return bucketCount_; }
  // Head of a chain (tests look at the order), null when empty or out of range.
  const Node* Head(UINT bucket) const { return bucket < bucketCount_ && buckets_ ? buckets_[bucket] : nullptr; }

 private:
  DWORD initialised_ = 0;
  UINT count_ = 0;
  UINT bucketCount_ = 0;
  Node** buckets_ = nullptr;
};
