// Copies of boxes, and the prototype map from which the factories make boxes.
#pragma once

#include <cstring>
#include <map>
#include <new>

#include "boxes.h"

namespace fileutil {

// Makes a new box of the same class as a given one. Every copy is deep: child
// boxes, descriptor trees and ID3v2 tags are copied, nothing is shared. The
// header boxes 'mvhd', 'tkhd', 'mdhd', 'smhd', 'dref' and 'url ' come out as new
// default boxes. A clone that cannot be completed (memory short) is null.
class BoxCloner : public IBoxVisitor {
 public:
  static IBox* Clone(IBox& box);
  static IDataBox* CloneDataBox(IBox& box);

#define FILEUTIL_VISIT_DECL(C) uint32_t Visit(C& box) override;
  FILEUTIL_BOX_CLASSES(FILEUTIL_VISIT_DECL)
#undef FILEUTIL_VISIT_DECL

 private:
  BoxCloner() = default;
  template <class T> uint32_t Copy(T& box);
  template <class T> uint32_t CopyData(T& box);
  template <class T> uint32_t CopyWithChildren(T& box);
  template <class T> uint32_t NewDefault(T& box);

  IBox* result_ = nullptr;
  IDataBox* dataResult_ = nullptr;
};

struct GuidCmp {
  bool operator()(const GUID& a, const GUID& b) const { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
};

// An owning map from key to prototype box.
template <class Key, class Base, class Default, class Cmp>
class Factory {
 public:
  Factory() : map_(new (std::nothrow) std::map<Key, Base*, Cmp>()) {}
  ~Factory() {
    if (!map_) return;
    for (auto& entry : *map_) delete entry.second;
    map_->clear();
    delete map_;
  }
  Factory(const Factory&) = delete;
  Factory& operator=(const Factory&) = delete;

  // Registers a prototype under its key and takes it over; a second prototype
  // for the same key is not inserted (and is destroyed).
  bool Add(const Key& key, Base* prototype) {
    if (!prototype) return false;
    if (!map_ || !map_->emplace(key, prototype).second) {
      delete prototype;
      return false;
    }
    return true;
  }

  // A deep copy of the prototype for the key, else a new Default holding the
  // key; null when memory is short. The caller owns the result.
  Base* CreateBox(const Key& key) const {
    if (map_) {
      auto it = map_->find(key);
      if (it != map_->end()) return BoxCloner::Clone(*it->second);
    }
    return new (std::nothrow) Default(key);
  }

  bool Has(const Key& key) const { return map_ && map_->count(key) != 0; }
  size_t Count() const { return map_ ? map_->size() : 0; }

 private:
  std::map<Key, Base*, Cmp>* map_;
};

}  // namespace fileutil
