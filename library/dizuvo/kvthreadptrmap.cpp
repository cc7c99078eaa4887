// The per-thread pointer map of the blankets.
#include "kvthreadptrmap.h"

#include <new>

HRESULT CKvThreadPointerMap::Init(UINT n) {
  Clear();
  bucketCount_ = n + 1;
  buckets_ = new (std::nothrow) Node*[bucketCount_]();
  if (!buckets_) {
    bucketCount_ = 0;
    return E_OUTOFMEMORY;
  }
  count_ = 0;
  initialised_ = 1;
  return S_OK;
}

HRESULT CKvThreadPointerMap::Find(DWORD key, UINT bucket, IUnknown*** value) {
  if (!initialised_) return E_FAIL;
  if (bucket >= bucketCount_ || !value || !buckets_) return E_INVALIDARG;
  if (count_ == 0) return KV_E_NOTFOUND;
  Node* previous = nullptr;
  for (Node* node = buckets_[bucket]; node; previous = node, node = node->next) {
    if (node->key != key) continue;
    if (previous) {
      // Move to front: the threads that call most stay at the head.
      previous->next = node->next;
      node->next = buckets_[bucket];
      buckets_[bucket] = node;
    }
    *value = &node->value;
    return S_OK;
  }
  return KV_E_NOTFOUND;
}

HRESULT CKvThreadPointerMap::Insert(DWORD key, UINT bucket, IUnknown* const* value) {
  if (!initialised_) return E_FAIL;
  if (bucket >= bucketCount_ || !value || !buckets_) return E_INVALIDARG;
  for (Node* node = buckets_[bucket]; node; node = node->next) {
    if (node->key == key) return KV_E_DUPLICATE;
  }
  Node* node = new (std::nothrow) Node();
  if (!node) return E_OUTOFMEMORY;
  node->key = key;
  node->value = *value;
  node->next = buckets_[bucket];
  buckets_[bucket] = node;
  ++count_;
  return S_OK;
}

void CKvThreadPointerMap::Clear() {
  if (initialised_ && buckets_) {
    for (UINT b = 0; b < bucketCount_; ++b) {
      Node* node = buckets_[b];
      while (node) {
        Node* next = node->next;
        delete node;
        node = next;
      }
    }
  }
  delete[] buckets_;
  buckets_ = nullptr;
  initialised_ = 0;
  count_ = 0;
  bucketCount_ = 0;
}

CKvThreadPointerMap::Iterator CKvThreadPointerMap::Begin() const {
  if (count_ == 0 || !buckets_) return Iterator(0, nullptr, this);
  for (UINT b = 0; b < bucketCount_; ++b) {
    if (buckets_[b]) return Iterator(b, buckets_[b], this);
  }
  return Iterator(0, nullptr, this);
}

CKvThreadPointerMap::Iterator& CKvThreadPointerMap::Iterator::Next() {
  if (!node_) return *this;
  node_ = node_->next;
  while (!node_ && map_->buckets_ && ++bucket_ < map_->bucketCount_) node_ = map_->buckets_[bucket_];
  return *this;
}
