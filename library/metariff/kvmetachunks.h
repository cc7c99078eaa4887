// The payloads of the metadata chunks: one stream of a file reader turned
// into the chunks of its kind, appended at the end of a RIFF, 64-bit RIFF or
// AIFF file through the chunk frame of kvfmmeta.h.
//
// Reader streams are checked as they are read: an entry header whose size
// is not 28 or version not 100, a payload shorter than its record or a
// stream that ends early gives 0x8004E008 and writes nothing of that kind;
// a failed write gives 0x8004E009. Built natively as well: files are the
// handles of kvfile.h, streams the IStream of kvstream.h and texts 16-bit
// units, so the fuzz target and the sanitizers reach every payload.
#pragma once

#include <stdint.h>

#include "kvmetakinds.h"
#include "kvstream.h"

// A generic stream of one kind: the stream stands after its 28-byte header,
// which gave count items. kind 0x100 with asAiff set writes the AIFF
// instrument and markers instead of "smpl" (AIFF files only).
HRESULT KvMetaChunks_WriteGeneric(HANDLE file, IStream* stream, DWORD count, KVFIO_TYPESOFMETADATA kind,
                                  BOOL riff64, BOOL asAiff);
// The legacy marker stream (from its start): markers and regions, times in
// 100-ns units turned into samples at rate.
HRESULT KvMetaChunks_WriteLegacyMarkers(HANDLE file, IStream* stream, unsigned long rate, BOOL riff64);
// The legacy summary stream (from its start): the summary list.
HRESULT KvMetaChunks_WriteLegacySummary(HANDLE file, IStream* stream, BOOL riff64);
// True for chunk ids that carry the audio ("fmt ", "data", "fact", "ds64"):
// never deleted or written as a reader's raw chunk.
bool KvMetaChunks_IsAudioChunk(DWORD id);

// Stream reading shared with the dispatcher.
// Exactly n bytes, else 0x8004E008.
HRESULT KvMetaChunks_Read(IStream* stream, void* buffer, ULONG n);
// A 28-byte entry header: size 28 and version 100, else 0x8004E008.
HRESULT KvMetaChunks_ReadEntryHeader(IStream* stream, DWORD* payloadSize);
// Skips n bytes by reading them in pieces of at most 4096 bytes.
HRESULT KvMetaChunks_Skip(IStream* stream, DWORD n);
