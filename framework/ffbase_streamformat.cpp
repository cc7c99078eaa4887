// The stream-format record.
#include "ffbase_streamformat.h"

#include <cstring>
#include <new>

#include "kvaudio.h"

namespace ffbase {

namespace {

// The record's format area as a full wave-format record (the rest zero).
void ReadFormatArea(const _KVFILESTREAMFORMATINFOv2* record, _kvwaveformat* out) {
  std::memset(out, 0, sizeof *out);
  std::memcpy(out, record->format, sizeof record->format);
}

// The 18-byte header of a format the read classes keep, without extra bytes.
WAVEFORMATEX PlainHeader(const WAVEFORMATEX* format) {
  WAVEFORMATEX head;
  std::memcpy(&head, format, sizeof head);
  head.cbSize = 0;
  return head;
}

}  // namespace

HRESULT SetAudioStreamFormatInfo(_KVFILESTREAMFORMATINFOv2* record, const WAVEFORMATEX* format, LONGLONG length) {
  if (!format) return KvFio_SetStreamFormatInfo(record, format, nullptr, length);
  WAVEFORMATEX head = PlainHeader(format);
  return KvFio_SetStreamFormatInfo(record, &head, nullptr, length);
}

bool IsEmptyStreamFormat(const _KVFILESTREAMFORMATINFOv2* record) {
  if (record->cbSize == 0 || record->streamType == 0) return true;
  _kvwaveformat* wf = new (std::nothrow) _kvwaveformat;
  if (!wf) return false;
  ReadFormatArea(record, wf);
  bool empty = wf->IsCompressed() ? wf->FormatTag() == 0 : wf->SampleType == 0;
  delete wf;
  return empty;
}

bool StreamFormatEquals(const _KVFILESTREAMFORMATINFOv2* record, const WAVEFORMATEX* format) {
  _kvwaveformat* a = new (std::nothrow) _kvwaveformat;
  _kvwaveformat* b = new (std::nothrow) _kvwaveformat;
  bool equal = false;
  if (a && b) {
    ReadFormatArea(record, a);
    std::memset(b, 0, sizeof *b);
    WAVEFORMATEX head = PlainHeader(format);
    b->Init(sizeof record->format, head);
    equal = *a == *b;
  }
  delete a;
  delete b;
  return equal;
}

}  // namespace ffbase
