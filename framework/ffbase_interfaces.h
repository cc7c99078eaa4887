// The framework's internal interfaces between the generic plug-in classes and
// the pieces a plug-in supplies (decoder, decompressor, compressor, encoder,
// sample reader, metadata decoder), and the second face of a read stream.
//
// Except for IStreamInfo these are not COM interfaces: no interface id, no
// reference count; each object has one owner that deletes it through its
// virtual destructor. Methods are listed in slot order.
#pragma once

#include <windows.h>
#include <mmreg.h>

#include <cstdint>
#include <vector>

#include "kvfileio.h"

struct _kvwaveformat;

namespace fileutil {
class ITrackReader;
class MetaDataSet;
class ISetInitialObjectDescriptor;
class ISetElementaryStreamInfo;
}  // namespace fileutil

namespace ffbase {

class IAudioSampleReader;

inline constexpr IID IID_IStreamInfo = {0xcbddb28c, 0x9a78, 0x4b47, {0xa0, 0xbe, 0x47, 0x2c, 0xf3, 0xea, 0x34, 0xe1}};

// Second face of a read stream: texts, values and formats of the stream.
struct IStreamInfo : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetInfoText(wchar_t* buf, int cch, UINT id) = 0;                   // 3
  virtual HRESULT STDMETHODCALLTYPE GetInfoValue(void* buf, DWORD cb, UINT id) = 0;                    // 4
  virtual HRESULT STDMETHODCALLTYPE GetSourceFormatInfo(_KVFILESTREAMFORMATINFOv2* info) = 0;          // 5
  virtual HRESULT STDMETHODCALLTYPE GetStreamFormatInfo(_KVFILESTREAMFORMATINFOv2* info) = 0;          // 6
  virtual HRESULT STDMETHODCALLTYPE SetStreamParam(DWORD value) = 0;                                   // 7
};

// A compressed track source that serves PCM sample frames at any position.
class IAudioDecoder {
 public:
  virtual HRESULT Reserved0() = 0;
  virtual WORD GetBlockAlign() = 0;
  virtual bool IsOpen() = 0;
  virtual HRESULT GetOutputFormat(WAVEFORMATEX** format) = 0;
  virtual HRESULT GetSourceFormat(WAVEFORMATEX** format) = 0;
  virtual HRESULT GetSampleCount(LONGLONG* frames) = 0;
  virtual HRESULT GetByteRate(LONGLONG* bytesPerSecond) = 0;
  virtual HRESULT GetDuration(LONGLONG* duration) = 0;  // 100 ns units
  virtual HRESULT SetPath(const wchar_t* path) = 0;
  virtual HRESULT Open() = 0;
  virtual HRESULT Close() = 0;
  // Delivers at most the rest of one access unit; S_FALSE at the end.
  virtual HRESULT Read(LONGLONG first, void* dest, DWORD count, DWORD* done) = 0;
  virtual ~IAudioDecoder() {}
};

// Turns one access unit of a track into interleaved 16-bit PCM.
class IAudioDecompressor {
 public:
  virtual ~IAudioDecompressor() {}
  virtual HRESULT Open(const std::vector<BYTE>* config, WAVEFORMATEX* format) = 0;
  virtual HRESULT Decode(std::vector<BYTE>* pcm, fileutil::ITrackReader* source, DWORD* frames) = 0;
  virtual HRESULT GetFormatTag(WORD* tag) = 0;
  virtual HRESULT Close() = 0;
};

// Reads a file's metadata into a metadata set.
class IMetaDecoder {
 public:
  virtual HRESULT Open() = 0;
  virtual HRESULT Close() = 0;
  virtual HRESULT SetPath(const wchar_t* path) = 0;
  virtual HRESULT GetTimeScale(DWORD* rate, DWORD* ratio) = 0;
  virtual HRESULT ReadMetadata(fileutil::MetaDataSet* collection) = 0;
  virtual ~IMetaDecoder() {}
};

// Encodes blocks of float samples pulled from a sample reader into access units.
class IAudioCompressor {
 public:
  virtual ~IAudioCompressor() {}
  virtual HRESULT Open(void* context, const WAVEFORMATEX* source, WAVEFORMATEX* output) = 0;
  virtual HRESULT Encode(std::vector<uint8_t>* accessUnit, IAudioSampleReader* reader, DWORD* duration) = 0;
  virtual HRESULT SetProfileLevels(fileutil::ISetInitialObjectDescriptor* iod) = 0;
  virtual HRESULT FillDecoderConfig(fileutil::ISetElementaryStreamInfo* es) = 0;
  virtual HRESULT Close() = 0;
  // Samples of delay the decoded stream starts with (after Open); 0 when the
  // compressor adds none or does not know.
  virtual DWORD GetPrimingFrames() { return 0; }
};

// Writes one audio file around a compressor; without one, adds metadata to a file.
class IAudioEncoder {
 public:
  virtual HRESULT Init(const _kvwaveformat* source, WAVEFORMATEX* output, DWORD cbCodecData,
                       const void* codecData) = 0;
  virtual HRESULT Open(const wchar_t* path) = 0;
  virtual HRESULT Encode(IAudioSampleReader* reader) = 0;
  virtual HRESULT Close() = 0;
  virtual HRESULT WriteMetadata(fileutil::MetaDataSet& collection, const wchar_t* path) = 0;
  virtual ~IAudioEncoder() {}
};

// Pulls the host's source audio, converted to the format the compressor asked for.
class IAudioSampleReader {
 public:
  virtual HRESULT GetLength(LONGLONG* frames) = 0;
  virtual HRESULT Read(void* buffer, DWORD frames, DWORD* framesRead) = 0;
  virtual HRESULT SetOutputFormat(const WAVEFORMATEX* target) = 0;
  virtual ~IAudioSampleReader() {}
};

}  // namespace ffbase

__CRT_UUID_DECL(ffbase::IStreamInfo, 0xcbddb28c, 0x9a78, 0x4b47, 0xa0, 0xbe, 0x47, 0x2c, 0xf3, 0xea, 0x34, 0xe1)
