// KvList: the library's general container, a growable array of fixed-width item
// slots behind a tKVLIST header, with optional locking, list-owned items,
// sorting and searching. Operations return an HRESULT unless noted otherwise.
#pragma once

#include "kvapi.h"

// Creation options.
#define KVLIST_ALLOCATED_ITEMS 0x00000002u  // slots hold pointers to items the list allocates
#define KVLIST_INPLACE_ITEMS 0x00000004u    // slots hold the item bytes themselves
#define KVLIST_CALLER_HEADER 0x00000008u    // header memory belongs to the caller
#define KVLIST_PRIVATE_HEAP 0x10000000u     // with allocated items: items come from a private heap
#define KVLIST_NO_OWNER_CHECK 0x40000000u   // added to every list: no owner-thread rule
#define KVLIST_LOCKED 0x80000000u           // every operation under the list's critical section

#define KVLIST_MAGIC 0x54525543u

// The list header. Callers may read `count` and `items` directly.
typedef struct tKVLIST {
  int count;
  DWORD stride;
  BYTE* items;
  CRITICAL_SECTION lock;
  DWORD magic;
  DWORD options;
  LONG userData;
  DWORD sortCriteria;
  DWORD ownerThread;
  int allocated;
  int growBy;
  HANDLE privateHeap;
  DWORD heapAllocFlags;
  DWORD heapFreeFlags;
  void* pendingItem;
} tKVLIST;

// Linear-search predicate: 0 when `item` matches `key`. For in-place lists
// `item` is the slot's address, otherwise the slot's value.
typedef int(KVAPI* KVLIST_MATCHPROC)(const void* key, const void* item);
// Ordering: < 0 when a sorts before b, 0 when equal, > 0 after. `criteria` is
// the word given to the last sort of the list.
typedef int(KVAPI* KVLIST_COMPAREPROC)(DWORD criteria, const void* a, const void* b);

KV_EXTERN_C_BEGIN

HRESULT KVAPI KvList_CreateExZ(tKVLIST** list, DWORD itemSize, int initialCount, int growBy, DWORD options,
                               DWORD reserved1, DWORD reserved2, DWORD reserved3);
HRESULT KVAPI KvList_Destroy(tKVLIST* list);
HRESULT KVAPI KvList_ConvertToInPlace(tKVLIST** list, tKVLIST* header);
BOOL KVAPI KvList_IsList(const void* p, DWORD size);
BOOL KVAPI KvList_IsListFast(const tKVLIST* list);

HRESULT KVAPI KvList_InsertList(tKVLIST* list, int index, const void* items, int count);
HRESULT KVAPI KvList_DeleteList(tKVLIST* list, int first, int count, BOOL shrink);
HRESULT KVAPI KvList_MoveRange(tKVLIST* list, int from, int to, int count);
HRESULT KVAPI KvList_ArrayForceItemCount(tKVLIST* list, int newCount, BOOL shrink);

HRESULT KVAPI KvList_AllocItem(tKVLIST* list, DWORD size, void** item);
HRESULT KVAPI KvList_AllocAndInsertItem(tKVLIST* list, const void* data, DWORD size, int index, int* outIndex);
HRESULT KVAPI KvList_ReAllocItem(tKVLIST* list, int index, DWORD size);
HRESULT KVAPI KvList_MoveItemsBetweenHeapLists(tKVLIST* destination, int destIndex, tKVLIST* source, int sourceIndex,
                                               int count);
int KVAPI KvList_AllocSize(tKVLIST* list, int index);

HRESULT KVAPI KvList_GrowAllocated(tKVLIST* list, int n);
HRESULT KVAPI KvList_ShrinkAllocated(tKVLIST* list, int n);

int KVAPI KvList_FindSpecificItemRange(tKVLIST* list, int first, int count, const void* item);
int KVAPI KvList_FindItemRange(tKVLIST* list, int first, int count, const void* key, KVLIST_MATCHPROC match);
int KVAPI KvList_FindSortedItemRange(tKVLIST* list, const void* key, int first, int count, KVLIST_COMPAREPROC compare);
int KVAPI KvList_FindSortedInsertIndexRange(tKVLIST* list, const void* key, int first, int count,
                                            KVLIST_COMPAREPROC compare);
BOOL KVAPI KvList_IsValidIndexSlow(tKVLIST* list, int index);

HRESULT KVAPI KvList_Sort(tKVLIST* list, DWORD criteria, KVLIST_COMPAREPROC compare);
HRESULT KVAPI KvList_HeapSort(tKVLIST* list, DWORD criteria, KVLIST_COMPAREPROC compare);
HRESULT KVAPI KvList_SortTo(tKVLIST* destination, tKVLIST* source, DWORD criteria, KVLIST_COMPAREPROC compare);

LONG KVAPI KvList_GetUserData(tKVLIST* list);
LONG KVAPI KvList_SetUserData(tKVLIST* list, LONG value);
DWORD KVAPI KvList_GetCreateOptions(tKVLIST* list);
DWORD KVAPI KvList_GetSortCriteria(tKVLIST* list);
DWORD KVAPI KvList_GetThreadOwner(tKVLIST* list);
HRESULT KVAPI KvList_SetThreadOwner(tKVLIST* list, DWORD threadId);
int KVAPI KvList_GetFileAndLine(tKVLIST* list, wchar_t* buffer, int size);

KV_EXTERN_C_END
