// Reading templates from a byte source: the V2 record as stored, and the V1
// stream form with its lift to V2. Every size read from the source is
// checked before anything is allocated or copied, and every record handed
// out has a layout that fits inside its own total size.
#include <cstdlib>
#include <cstring>

#include "kvbyteorder.h"
#include "kvaudio.h"
#include "kvtemplate_internal.h"

namespace kvtemplate {

namespace {

// Largest compressed-format block of a V1 audio description: a header with
// the largest extra-byte count it can announce.
constexpr DWORD kMaxV1FormatBytes = 18 + 0xFFFF;

HRESULT ReadExact(ByteSource& source, void* dst, DWORD n) {
  DWORD got = 0;
  HRESULT hr = source.Read(dst, n, &got);
  if (FAILED(hr)) return hr;
  return got < n ? KV_E_CORRUPT : S_OK;
}

HRESULT ReadWord(ByteSource& source, DWORD* value) {
  BYTE b[4];
  HRESULT hr = ReadExact(source, b, 4);
  if (SUCCEEDED(hr)) *value = GetLE32(b);
  return hr;
}

// A block of `size` bytes read from the source (null for size 0).
HRESULT ReadBlock(ByteSource& source, DWORD size, DWORD limit, BYTE** out) {
  *out = nullptr;
  if (size == 0) return S_OK;
  if (size > limit) return KV_E_CORRUPT;
  BYTE* p = static_cast<BYTE*>(std::calloc(1, size));
  if (!p) return E_OUTOFMEMORY;
  HRESULT hr = ReadExact(source, p, size);
  if (FAILED(hr)) {
    std::free(p);
    return hr;
  }
  *out = p;
  return S_OK;
}

bool VersionAllowed(DWORD version, DWORD maxVersion) {
  const DWORD major = version >> 24;
  return major >= 1 && major <= 2 && major <= (maxVersion >> 24);
}

// The description blocks are packed: their words are read into locals and
// then stored, never through a pointer to a packed member.
HRESULT ReadV1Audio(KVTEMPLATEV1_AUDIO* a, ByteSource& source) {
  HRESULT hr = ReadExact(source, &a->wfxSource, sizeof a->wfxSource);
  DWORD streams = 0, codecSize = 0;
  if (SUCCEEDED(hr)) hr = ReadWord(source, &streams);
  a->nStreams = streams;
  DWORD formatSize = 0;
  if (SUCCEEDED(hr)) hr = ReadWord(source, &formatSize);
  if (SUCCEEDED(hr) && formatSize != 0 && formatSize < sizeof(WAVEFORMATEX)) hr = KV_E_CORRUPT;
  BYTE* format = nullptr;
  if (SUCCEEDED(hr)) hr = ReadBlock(source, formatSize, kMaxV1FormatBytes, &format);
  a->pwfxCompressed = reinterpret_cast<WAVEFORMATEX*>(format);
  // The header must not announce more extra bytes than the block holds.
  if (SUCCEEDED(hr) && format && sizeof(WAVEFORMATEX) + a->pwfxCompressed->cbSize > formatSize)
    hr = KV_E_CORRUPT;
  if (SUCCEEDED(hr)) hr = ReadExact(source, &a->ext, sizeof a->ext);
  if (SUCCEEDED(hr)) hr = ReadWord(source, &codecSize);
  BYTE* codec = nullptr;
  if (SUCCEEDED(hr)) hr = ReadBlock(source, codecSize, kMaxStreamRecord, &codec);
  a->cbCodecData = codec ? codecSize : 0;
  a->pCodecData = codec;
  return hr;
}

HRESULT ReadV1Video(KVTEMPLATEV1_VIDEO* v, ByteSource& source) {
  DWORD streams = 0, codecSize = 0;
  HRESULT hr = ReadWord(source, &streams);
  v->nStreams = streams;
  if (SUCCEEDED(hr)) hr = ReadExact(source, &v->ext, sizeof v->ext);
  if (SUCCEEDED(hr)) hr = ReadExact(source, &v->bihSource, sizeof v->bihSource);
  if (SUCCEEDED(hr)) hr = ReadExact(source, &v->bihOutput, sizeof v->bihOutput);
  if (SUCCEEDED(hr)) hr = ReadWord(source, &codecSize);
  BYTE* codec = nullptr;
  if (SUCCEEDED(hr)) hr = ReadBlock(source, codecSize, kMaxStreamRecord, &codec);
  v->cbCodecData = codec ? codecSize : 0;
  v->pCodecData = codec;
  return hr;
}

// The V1 source format as a 40-byte field.
void LiftSourceFormat(const KVTEMPLATEV1_AUDIO& a, BYTE field[40]) {
  _kvwaveformat f;
  std::memset(&f, 0, sizeof f);
  WAVEFORMATEX head;
  std::memcpy(&head, &a.wfxSource, sizeof head);
  if (head.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
    // The 18-byte header has no valid-bits word or mask of its own: they come
    // from the output format when that is the extensible form, else the
    // container bits stand for the valid bits.
    WORD valid = head.wBitsPerSample;
    DWORD mask = 0;
    const WAVEFORMATEX* c = a.pwfxCompressed;
    if (c && c->wFormatTag == WAVE_FORMAT_EXTENSIBLE && c->cbSize >= 22) {
      WAVEFORMATEXTENSIBLE x;
      std::memcpy(&x, c, sizeof x);
      valid = x.Samples.wValidBitsPerSample;
      mask = x.dwChannelMask;
    }
    KVSAMPLETYPE type = valid < 32 ? KvAudio_GetSampleType2(WAVE_FORMAT_PCM, head.wBitsPerSample) : KVST_FLOAT;
    f.Init(head.nSamplesPerSec, type, head.nChannels, mask, 32);
  } else {
    // Only the 18 bytes exist: no extra bytes are read behind them.
    head.cbSize = 0;
    f.Init(kKvTemplateSourceAudioSize, head);
  }
  std::memcpy(field, &f, kKvTemplateSourceAudioSize);
}

// A V1 name field as a terminated string: up to its first NUL, or the whole
// field when it has none.
void FieldString(const WCHAR* field, WCHAR out[kKvTemplateV1NameChars + 1]) {
  long n = BoundedStrLen16(field, kKvTemplateV1NameChars);
  size_t len = n < 0 ? kKvTemplateV1NameChars : static_cast<size_t>(n);
  std::memcpy(out, field, len * sizeof(WCHAR));
  out[len] = 0;
}

}  // namespace

void FreeV1Data(KVTEMPLATExV1* v1) {
  if (v1->pAudio) {
    std::free(v1->pAudio->pwfxCompressed);
    std::free(v1->pAudio->pCodecData);
    v1->pAudio->pwfxCompressed = nullptr;
    v1->pAudio->pCodecData = nullptr;
  }
  if (v1->pVideo) {
    std::free(v1->pVideo->pCodecData);
    v1->pVideo->pCodecData = nullptr;
  }
}

HRESULT ReadV1(KVTEMPLATExV1* v1, ByteSource& source, DWORD maxVersion, bool headerRead) {
  if (!v1 || !v1->pAudio || !v1->pVideo) return E_INVALIDARG;
  HRESULT hr = S_OK;
  if (!headerRead) {
    hr = ReadWord(source, &v1->cbSize);
    if (SUCCEEDED(hr)) hr = ReadWord(source, &v1->dwVersion);
    if (FAILED(hr)) return hr;
  }
  // Only the V1 form is read here, and only when the caller admits it.
  if (!VersionAllowed(v1->dwVersion, maxVersion) || (v1->dwVersion >> 24) != 1) return KV_E_CORRUPT;
  hr = ReadExact(source, v1->szName, sizeof v1->szName);
  if (SUCCEEDED(hr)) hr = ReadExact(source, v1->szDescription, sizeof v1->szDescription);
  DWORD present = 0;
  if (SUCCEEDED(hr)) hr = ReadWord(source, &present);
  v1->bAudio = SUCCEEDED(hr) && present != 0;
  if (v1->bAudio) hr = ReadV1Audio(v1->pAudio, source);
  if (SUCCEEDED(hr)) hr = ReadWord(source, &present);
  v1->bVideo = SUCCEEDED(hr) && present != 0;
  if (v1->bVideo) hr = ReadV1Video(v1->pVideo, source);
  if (FAILED(hr)) FreeV1Data(v1);
  return hr;
}

HRESULT LiftV1(const KVTEMPLATExV1& v1, tagKVTEMPLATExV2** out) {
  *out = nullptr;
  const KVTEMPLATEV1_AUDIO* a = v1.bAudio ? v1.pAudio : nullptr;
  const KVTEMPLATEV1_VIDEO* v = v1.bVideo ? v1.pVideo : nullptr;
  // The output format must fit the 96-byte field whatever its tag.
  if (a && a->pwfxCompressed && sizeof(WAVEFORMATEX) + a->pwfxCompressed->cbSize > kKvTemplateOutputAudioSize)
    return KV_E_CORRUPT;
  const DWORD audioCodec = a ? a->cbCodecData : 0;
  const DWORD videoCodec = v ? v->cbCodecData : 0;
  if (uint64_t(audioCodec) + videoCodec > kMaxStreamRecord) return KV_E_CORRUPT;

  WCHAR name[kKvTemplateV1NameChars + 1], desc[kKvTemplateV1NameChars + 1];
  FieldString(v1.szName, name);
  FieldString(v1.szDescription, desc);
  tagKVTEMPLATExV2* t = KvFio_AllocTemplate(name, desc, audioCodec + videoCodec, nullptr);
  if (!t) return E_OUTOFMEMORY;
  t->dwVersion = (v1.dwVersion & 0xFFFFFF) | kKvTemplateVersion2;
  if (a) {
    t->cbAudioPart = kKvTemplatePartSize;
    t->nAudioStreams = a->nStreams;
    LiftSourceFormat(*a, t->wfSource);
    std::memcpy(&t->audioExt, &a->ext, sizeof t->audioExt);
    if (a->pwfxCompressed) {
      _kvwaveformat f;
      std::memset(&f, 0, sizeof f);
      f.Init(kKvTemplateOutputAudioSize, *a->pwfxCompressed);
      std::memcpy(t->wfOutput, &f, kKvTemplateOutputAudioSize);
    }
    if (audioCodec) std::memcpy(kvtemplate::CodecBlock(t), a->pCodecData, audioCodec);
  }
  if (v) {
    t->cbVideoPart = kKvTemplatePartSize;
    t->nVideoStreams = v->nStreams;
    std::memcpy(&t->videoExt, &v->ext, sizeof t->videoExt);
    std::memcpy(&t->bihSource, &v->bihSource, sizeof t->bihSource);
    if (v->bihOutput.biSize != 0) std::memcpy(&t->bihOutput, &v->bihOutput, sizeof t->bihOutput);
    if (videoCodec) std::memcpy(kvtemplate::CodecBlock(t) + audioCodec, v->pCodecData, videoCodec);
  }
  *out = t;
  return S_OK;
}

HRESULT LoadRecord(tagKVTEMPLATExV2** out, ByteSource& source, DWORD maxVersion, bool* wasV1) {
  *out = nullptr;
  *wasV1 = false;
  DWORD size = 0, version = 0;
  HRESULT hr = ReadWord(source, &size);
  if (SUCCEEDED(hr)) hr = ReadWord(source, &version);
  if (FAILED(hr)) return hr;
  if (!VersionAllowed(version, maxVersion)) return KV_E_CORRUPT;

  if ((version >> 24) != 1) {
    if (size < kKvTemplateHeaderSize || size > kMaxStreamRecord) return KV_E_CORRUPT;
    // Never less than the declared record, so that every field is addressable.
    BYTE* p = static_cast<BYTE*>(std::calloc(1, size < kKvTemplateBasicSize ? kKvTemplateBasicSize : size));
    if (!p) return E_OUTOFMEMORY;
    std::memcpy(p, &size, 4);
    std::memcpy(p + 4, &version, 4);
    hr = ReadExact(source, p + 8, size - 8);
    tagKVTEMPLATExV2* t = reinterpret_cast<tagKVTEMPLATExV2*>(p);
    if (SUCCEEDED(hr) && !V2LayoutIsSound(t, size, kKvTemplateHeaderSize)) hr = KV_E_CORRUPT;
    if (FAILED(hr)) {
      std::free(p);
      // A short record is not a template; the stream's own errors pass through.
      return hr;
    }
    *out = t;
    return S_OK;
  }

  KVTEMPLATExV1 v1;
  std::memset(&v1, 0, sizeof v1);
  v1.cbSize = size;
  v1.dwVersion = version;
  v1.pAudio = static_cast<KVTEMPLATEV1_AUDIO*>(std::calloc(1, sizeof(KVTEMPLATEV1_AUDIO)));
  v1.pVideo = static_cast<KVTEMPLATEV1_VIDEO*>(std::calloc(1, sizeof(KVTEMPLATEV1_VIDEO)));
  if (!v1.pAudio || !v1.pVideo) {
    hr = E_OUTOFMEMORY;
  } else {
    hr = ReadV1(&v1, source, maxVersion, true);
    if (SUCCEEDED(hr)) hr = LiftV1(v1, out);
    FreeV1Data(&v1);
  }
  std::free(v1.pAudio);
  std::free(v1.pVideo);
  *wasV1 = SUCCEEDED(hr);
  return hr;
}

}  // namespace kvtemplate
