// Generic plug-in info object: answers the manager's IKvUnsharedFIOPluginInfo
// from a table of rows that the plug-in class supplies.
#pragma once

#include <windows.h>

#include "kvfileio.h"

namespace ffbase {

// One plug-in of the module, nine 32-bit words: the plug-in id, the display
// name, then seven values (access mask, stream type, application level, ...).
struct PluginInfoRow {
  const GUID* id;
  const wchar_t* name;
  DWORD values[7];
};

class BaseUnsharedFIOPluginInfo : public IKvUnsharedFIOPluginInfo {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE Initialize(DWORD a, DWORD b, DWORD c) override;
  HRESULT STDMETHODCALLTYPE GetItemCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetItem(int index, GUID* id, wchar_t* name, int cchName, DWORD* value1,
                                    DWORD* value2, DWORD* value3, DWORD* value4, DWORD* value5, DWORD* value6,
                                    DWORD* zero, DWORD* last) override;

  // The plug-in's rows.
  virtual const PluginInfoRow* Items() = 0;
  virtual UINT ItemCount() = 0;

 protected:
  BaseUnsharedFIOPluginInfo() : refCount_(0), initialised_(FALSE) {}
  virtual ~BaseUnsharedFIOPluginInfo() {}

 private:
  ULONG refCount_;    // plain count: the manager uses the object from one thread
  BOOL initialised_;  // set by Initialize; the item calls fail before it
};

}  // namespace ffbase
