// The metadata a host hands a renderer and reads back from a reader, in the
// stream layouts the plug-in's interfaces carry: summary texts by four-letter
// id, legacy markers, and the key names the host's command line takes.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "kvfileio.h"

// A summary field: its id (the four letters as a little-endian number, e.g.
// "INAM") and its text.
typedef std::vector<std::pair<DWORD, std::wstring>> SummaryFields;

// The summary id of a key the command line takes: a name ("title",
// "artist" ...) or four letters as they are ("INAM"). False for other keys.
bool SummaryIdOfKey(const std::wstring& key, DWORD& id);
// The name of a summary id for printing ("title"), or its four letters.
std::string SummaryKeyName(DWORD id);
// "title, artist, ...": the names SummaryIdOfKey takes.
std::string SummaryKeyNames();

// Parses a summary stream; false when its sizes do not fit its bytes.
bool ParseSummaryStream(const std::vector<BYTE>& bytes, SummaryFields& fields);

struct LegacyMarker {
  LONGLONG position = 0;  // 100-ns units
  LONGLONG length = 0;
  bool hasLength = false;
  std::wstring name;
};
bool ParseLegacyMarkers(const std::vector<BYTE>& bytes, std::vector<LegacyMarker>& markers);

// Every byte of a stream from its start; false when it could not be read.
bool ReadWholeStream(IStream* stream, std::vector<BYTE>& bytes);

// The host's metadata for a render: a summary stream of the given fields and
// nothing else (no markers, no other interfaces). Reference-counted; starts
// at one reference.
class HostSummaryMeta : public IKvReadMeta {
 public:
  explicit HostSummaryMeta(SummaryFields fields) : fields_(std::move(fields)) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetMarkers(IStream** markers) override;
  HRESULT STDMETHODCALLTYPE GetType2Stream(IStream** stream) override;
  HRESULT STDMETHODCALLTYPE Reserved5(DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSummaryText(UINT key, wchar_t* buf, int cch) override;
  HRESULT STDMETHODCALLTYPE GetSummaryStream(IStream** summary) override;

 private:
  ~HostSummaryMeta() = default;
  SummaryFields fields_;
  LONG refs_ = 1;
};
