// Audio utilities of the utility library: sample types, the wave-format
// record, wave-header copies, sample conversion between the linear sample
// types, channel operations and channel-count changes.
#pragma once

#include "kvportable.h"
#include "kvwavefmt.h"

// Sample encodings; samples are interleaved by frame.
enum KVSAMPLETYPE : uint32_t {
  KVST_NONE = 0,
  KVST_U8 = 16,        // unsigned 8-bit, silence 128
  KVST_S16 = 17,       // signed 16-bit little-endian
  KVST_S24 = 18,       // signed 24-bit little-endian, packed in 3 bytes
  KVST_S32 = 19,       // signed 32-bit little-endian
  KVST_FLOAT = 32,     // IEEE 32-bit float, full scale 1.0
  KVST_DOUBLE = 33,    // IEEE 64-bit float, full scale 1.0
  KVST_S24IN32 = 48,   // signed 24-bit value in a sign-extended 32-bit word
  KVST_S8 = 49,        // signed 8-bit
  KVST_S16BE = 64,     // signed 16-bit big-endian
  KVST_S24BE = 65,     // signed 24-bit big-endian, packed
  KVST_S32BE = 66,     // signed 32-bit big-endian
  KVST_FE03_16 = 128,  // tag 0xFE03 with 16 bits: recognised only
  KVST_FE03_24 = 129,  // tag 0xFE03 with 24 bits: recognised only
};

// The library's own format tags.
#define KVWAVE_FORMAT_24IN32 0xFE00
#define KVWAVE_FORMAT_SIGNED8 0xFE01
#define KVWAVE_FORMAT_BIGENDIAN 0xFE02
#define KVWAVE_FORMAT_FE03 0xFE03

// Header form written from a record.
enum KVWAVEFORMAT_COPY_DEST : uint32_t {
  KVWFX_COPY_AUTO = 0,        // extensible for flag 16 or a non-default mask
  KVWFX_COPY_BYMASK = 1,      // extensible only for a non-default mask
  KVWFX_COPY_PLAIN = 2,       // plain header, mask dropped
  KVWFX_COPY_MULTICHANNEL = 3,  // extensible above two channels
  KVWFX_COPY_EXTENSIBLE = 4,  // always extensible
};

#define KVWFX_FLAG_COMPRESSED 8
#define KVWFX_FLAG_EXTENSIBLE 16
#define KVWFX_MAX_EXTRA 1024

// The library's description of an audio format. The layout is stored inside
// render templates (areas of 40 and 96 bytes), so records are often shorter
// than this declaration: nothing past cbStruct (and the extra bytes it
// announces) is touched.
#pragma pack(push, 2)
struct _kvwaveformat {
  DWORD cbStruct;
  KVSAMPLETYPE SampleType;
  DWORD nSamplesPerSec;
  WORD nChannels;
  WORD nBlockAlign;
  DWORD dwChannelMask;
  DWORD dwFlags;
  WORD wFormatTag;
  WORD wBitsPerSample;
  DWORD nAvgBytesPerSec;
  WORD cbExtra;
  BYTE abExtra[KVWFX_MAX_EXTRA];

  void Init(DWORD rate, KVSAMPLETYPE type, DWORD channels, DWORD mask, DWORD size);
  void InitAsWfx(WORD tag, DWORD rate, WORD bits, WORD channels, DWORD mask, DWORD size);
  void Init(DWORD size, const WAVEFORMATEX& wfx);
  DWORD UpdateBlockAlign();
  WORD FormatTag() const;
  WORD BitsPerSample() const;
  WORD BytesPerSample() const;
  bool IsCompressed() const;
  bool operator==(const _kvwaveformat& other) const;
  bool operator==(const WAVEFORMATEX& wfx) const;
};
#pragma pack(pop)
static_assert(offsetof(_kvwaveformat, nAvgBytesPerSec) == 28, "record layout");
static_assert(offsetof(_kvwaveformat, cbExtra) == 32, "record layout");
static_assert(offsetof(_kvwaveformat, abExtra) == 34, "record layout");

// Header holders for calls that want a WAVEFORMATEX pointer.
struct _kvwaveformat_wfxcopyhelper {
  WAVEFORMATEX wfx;
  explicit _kvwaveformat_wfxcopyhelper(const _kvwaveformat& fmt);
  operator const WAVEFORMATEX*() const { return &wfx; }
};
struct _kvwaveformat_wfxecopyhelper {
  WAVEFORMATEXTENSIBLE wfx;
  explicit _kvwaveformat_wfxecopyhelper(const _kvwaveformat& fmt);
  operator const WAVEFORMATEX*() const { return &wfx.Format; }
};
struct _kvwaveformat_wfxplus {
  union {
    WAVEFORMATEX wfx;
    BYTE bytes[136];
  };
  void Init(const WAVEFORMATEX* src, KVWAVEFORMAT_COPY_DEST mode);
  operator const WAVEFORMATEX*() const { return &wfx; }
};

// Conversion routine: (destination, source, count in samples, gain).
typedef void(KVAPI* tKvAudioCopyFunc)(void* dst, const void* src, int32_t count, float gain);

// ---- wave-format record and header copies --------------------------------
WAVEFORMATEX* KVAPI KvAudio_GeneralCopyWfx(WAVEFORMATEX* dst, DWORD dstSize, const _kvwaveformat& fmt,
                                          KVWAVEFORMAT_COPY_DEST mode);
_kvwaveformat* KVAPI KvAudio_GeneralCopyKvWaveFormat(_kvwaveformat* dst, DWORD dstSize, const _kvwaveformat& src,
                                                     KVWAVEFORMAT_COPY_DEST mode);
WAVEFORMATEX* KVAPI KvAudio_AllocAndCopyWfx(const _kvwaveformat& fmt, KVWAVEFORMAT_COPY_DEST mode);
WAVEFORMATEX* KVAPI KvAudio_AllocAndCopyWfx(const _kvwaveformat* fmt, KVWAVEFORMAT_COPY_DEST mode);
extern "C" {
WAVEFORMATEX* KVAPI KvAudio_AllocAndCopyWfx(const WAVEFORMATEX* wfx, KVWAVEFORMAT_COPY_DEST mode);
void KVAPI KvAudio_CopyWfx(WAVEFORMATEX* dst, DWORD dstSize, const WAVEFORMATEX* src, KVWAVEFORMAT_COPY_DEST mode);
void KVAPI KvAudio_CopyWfExt(WAVEFORMATEXTENSIBLE* dst, const WAVEFORMATEX* src, KVWAVEFORMAT_COPY_DEST mode);
WAVEFORMATEXTENSIBLE* KVAPI KvAudio_CopyWfxToWfExt(const WAVEFORMATEX* src, WAVEFORMATEXTENSIBLE* dst);
WAVEFORMATEX* KVAPI KvAudio_CopyWfExtToWfx(const WAVEFORMATEXTENSIBLE* src, WAVEFORMATEX* dst);
void KVAPI KvAudio_InitWfxFlex(WAVEFORMATEX* dst, DWORD tag, DWORD rate, DWORD bits, DWORD channels, DWORD mask,
                               DWORD dstSize);

// ---- sample types and plain header tests ---------------------------------
DWORD KVAPI KvAudio_FormatTagFromSampleType(KVSAMPLETYPE type);
DWORD KVAPI KvAudio_BitsFromSampleType(KVSAMPLETYPE type);
DWORD KVAPI KvAudio_BytesFromSampleType(KVSAMPLETYPE type);
KVSAMPLETYPE KVAPI KvAudio_GetSampleType2(DWORD tag, DWORD bits);
KVSAMPLETYPE KVAPI KvAudio_GetSampleType(const WAVEFORMATEX* wfx);
double KVAPI KvAudio_GetNormalizeFactor(int32_t bits);
void KVAPI KvAudio_InitWfx(WAVEFORMATEX* wfx, DWORD rate, KVSAMPLETYPE type, DWORD channels);
int KVAPI KvAudio_IsEqualFormat(const WAVEFORMATEX* a, const WAVEFORMATEX* b);
int KVAPI KvAudio_IsCompressed(const WAVEFORMATEX* wfx);
int KVAPI KvAudio_IsCompressedExtensible(WAVEFORMATEXTENSIBLE* wfx);
WORD KVAPI KvAudio_GetWaveFormatTag(const WAVEFORMATEX* wfx);
int KVAPI KvAudio_GetFormatTagExtensible(WAVEFORMATEXTENSIBLE* wfx, DWORD* tag);
int KVAPI KvAudio_FixBadWfx(WAVEFORMATEX* wfx);
#ifdef _WIN32
HRESULT KVAPI KvAudio_GetTagText(DWORD tag, wchar_t* out, int cch);
#endif
}  // extern "C"
#ifdef _WIN32
HRESULT KVAPI KvAudio_GetAttribsText(const WAVEFORMATEX* wfx, wchar_t* out, int cch);
HRESULT KVAPI KvAudio_GetAttribsText(const _kvwaveformat* fmt, wchar_t* out, DWORD cch);
#endif

// Per-sample helpers shared by the channel operations and the resampler.
int32_t KvAudio_ClipRound(double x, int32_t low, int32_t high);
void KvAudio_PackInt24(int32_t v, BYTE* out);
int32_t KvAudio_UnpackInt24(const BYTE* in);
int32_t KvAudio_UnpackInt24BE(const BYTE* in);
void KvAudio_PackInt24BE(BYTE* out, int32_t v);
int32_t KvAudio_SwapInt32(int32_t v);
void KvAudio_Int16ToInt24(BYTE* out, WORD v);
int32_t KvAudio_Int24ToInt32(const BYTE* in);
void KvAudio_CopyOneSample(KVSAMPLETYPE type, void* dst, const void* src);

// ---- conversion dispatch -------------------------------------------------
extern "C" {
tKvAudioCopyFunc KVAPI KvAudio_GetCopyFunction2(KVSAMPLETYPE dstType, KVSAMPLETYPE srcType);
HRESULT KVAPI KvAudioCopy_UnitTest(void* owner);
}
tKvAudioCopyFunc KVAPI KvAudio_GetCopyFunction(const WAVEFORMATEX* dst, const WAVEFORMATEX* src);
tKvAudioCopyFunc KVAPI KvAudio_GetCopyFunction(const WAVEFORMATEX* dst, const _kvwaveformat* src);
tKvAudioCopyFunc KVAPI KvAudio_GetCopyFunction(const _kvwaveformat* dst, const WAVEFORMATEX* src);
HRESULT KVAPI KvAudio_Copy(const WAVEFORMATEX* dstFmt, void* dst, const WAVEFORMATEX* srcFmt, const void* src,
                           int32_t frames, float gain);
HRESULT KVAPI KvAudio_Copy(const _kvwaveformat* dstFmt, void* dst, const WAVEFORMATEX* srcFmt, const void* src,
                           int32_t frames, float gain);
HRESULT KVAPI KvAudio_Copy(const WAVEFORMATEX* dstFmt, void* dst, const _kvwaveformat* srcFmt, const void* src,
                           int32_t frames, float gain);
HRESULT KVAPI KvAudio_Copy(const _kvwaveformat* dstFmt, void* dst, const _kvwaveformat* srcFmt, const void* src,
                           int32_t frames, float gain);

// ---- channel operations --------------------------------------------------
HRESULT KVAPI KvAudio_FillSilence(const _kvwaveformat* fmt, void* buf, DWORD frames);
HRESULT KVAPI KvAudio_FillSilence(const WAVEFORMATEX* wfx, void* buf, DWORD frames);
HRESULT KVAPI KvAudio_ExtractChannel(void* dst, int32_t channel, const void* src, KVSAMPLETYPE type,
                                     DWORD channels, int32_t frames);
HRESULT KVAPI KvAudio_ExtractChannel(void* dst, int32_t channel, const void* src, const WAVEFORMATEX* wfx,
                                     int32_t frames);
HRESULT KVAPI KvAudio_MuteChannel(void* buf, KVSAMPLETYPE type, int channels, int32_t channel, int32_t frames);
HRESULT KVAPI KvAudio_MuteChannel(void* buf, const WAVEFORMATEX* wfx, int32_t channel, int32_t frames);
HRESULT KVAPI KvAudio_MuteChannel(void* buf, const _kvwaveformat* fmt, int32_t channel, int32_t frames);
extern "C" {
HRESULT KVAPI KvAudio_FillSilenceChannel(const WAVEFORMATEX* wfx, void* buf, DWORD channel, DWORD frames);
HRESULT KVAPI KvAudio_CopyChannelToChannel(void* buf, const WAVEFORMATEX* wfx, DWORD from, DWORD to,
                                           int32_t frames);
HRESULT KVAPI KvAudio_SwapStereoChannels(void* buf, const WAVEFORMATEX* wfx, int32_t frames);
HRESULT KVAPI KvAudio_CopySwapStereoChannels(void* dst, const void* src, const WAVEFORMATEX* wfx, int32_t frames);
HRESULT KVAPI KvAudio_ExtractChannelPair(void* dst, DWORD first, const void* src, const WAVEFORMATEX* wfx,
                                         int32_t frames);
HRESULT KVAPI KvAudio_InsertChannel(void* dst, KVSAMPLETYPE type, int32_t channels, int32_t channel, const void* src,
                                    DWORD frames);
HRESULT KVAPI KvAudio_CopyChannelToAll(void* dst, const void* src, const WAVEFORMATEX* srcFmt,
                                       const WAVEFORMATEX* dstFmt, DWORD channel, int32_t frames);
HRESULT KVAPI KvAudio_CopyChannelToMultiMono2(void* dst, int32_t dstChannels, const void* src, DWORD srcChannels,
                                              DWORD channel, int32_t frames, KVSAMPLETYPE type);
HRESULT KVAPI KvAudio_CopyChannelToMultiMono(void* dst, const WAVEFORMATEX* dstFmt, const void* src,
                                             const WAVEFORMATEX* srcFmt, DWORD channel, int32_t frames);
HRESULT KVAPI KvAudio_DeInterleaveStereo(void* left, void* right, const void* stereo, KVSAMPLETYPE type,
                                         int32_t frames);
HRESULT KVAPI KvAudio_InterleaveStereo(void* stereo, const void* left, const void* right, KVSAMPLETYPE type,
                                       int32_t frames);

// ---- channel-count change and mono mix -----------------------------------
HRESULT KVAPI KvAudio_ChannelChange(void* dst, DWORD dstChannels, const void* src, const WAVEFORMATEX* srcFmt,
                                    int32_t frames);
HRESULT KVAPI KvAudio_ChannelChangeAvg(void* dst, DWORD dstChannels, const void* src, const WAVEFORMATEX* srcFmt,
                                       int32_t frames);
HRESULT KVAPI KvAudio_MonoChannel(void* dst, const void* src, const WAVEFORMATEX* wfx, int32_t frames);
HRESULT KVAPI KvAudio_FillWithSample(const WAVEFORMATEX* dstFmt, void* dst, const WAVEFORMATEX* sampleFmt,
                                     const void* sample, DWORD frames);
}  // extern "C"
