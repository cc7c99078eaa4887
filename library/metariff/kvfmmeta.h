// Metadata chunks in RIFF-family files and sidecar files: the metadata a
// file reader offers through IKvReadMeta (markers and regions, summary
// texts, play and sampler lists, display lists and private records) written
// as chunks into a RIFF, 64-bit RIFF or AIFF media file, or into a sidecar
// file beside it.
//
// A sidecar is a RIFF file of form type "KVPL" named after its media file
// ("song.kvl" or "song.wav.kvl") holding the metadata chunks and one "KVPI"
// chunk that names the media file (its name without the folder, in the ANSI
// code page, with its terminating zero).
//
// Every chunk is appended at the end of the RIFF content through the chunk
// frame below; stale chunks of the kinds being written are deleted first.
#pragma once

#include <stdint.h>

#include "kvapi.h"
#include "kvfileio.h"
#include "kvmetakinds.h"

KV_EXTERN_C_BEGIN

// Sidecar name: with append, mediaPath + ".kvl"; otherwise mediaPath with the
// extension of its file name replaced by ".kvl" (added when there is none).
// E_INVALIDARG when the media path's length + 5 exceeds cch.
HRESULT KVAPI KvFMMeta_CreateMetaName(const wchar_t* mediaPath, wchar_t* out, long cch, BOOL append);
// TRUE when sidecarPath is a "KVPL" file whose "KVPI" chunk names mediaPath's file.
BOOL KVAPI KvFMMeta_IsMetaFile(const wchar_t* mediaPath, const wchar_t* sidecarPath);
// Makes the sidecar name mediaPath instead of its old media file.
HRESULT KVAPI KvFMMeta_ChangeAttachedFilename(const wchar_t* sidecarPath, const wchar_t* mediaPath);
// S_OK when the RIFF file has a top-level "cue " chunk, else 0x8004E00A.
HRESULT KVAPI KvFMMeta_LookForMarkers(const wchar_t* path);
// Deletes the marker chunks (kind 0x4); the deletion of the given kinds from a
// RIFF or 64-bit RIFF file. A file that does not open is not an error.
HRESULT KVAPI KvFMMeta_DeleteMetaChunks(const wchar_t* path);
HRESULT KVAPI KvFMMeta_DeleteMetaChunksEx(const wchar_t* path, KVFIO_TYPESOFMETADATA kinds, BOOL riff64);

// Writers: the kinds in fileKinds go into the media file (its old chunks of
// those kinds deleted first unless keepChunks), the kinds in sidecarKinds that
// the reader holds go into a new sidecar (old sidecars of the media file are
// removed first). rate turns marker times (100-ns units) into samples.
HRESULT KVAPI KvFMMeta_openAndWriteMetaStreamEx(const wchar_t* path, int keepChunks, unsigned long rate,
                                                IKvReadMeta* meta, KVFIO_TYPESOFMETADATA fileKinds,
                                                KVFIO_TYPESOFMETADATA sidecarKinds);
HRESULT KVAPI KvFMMeta_openAndWriteMetaStream(const wchar_t* path, int keepChunks, BOOL toSidecar,
                                              unsigned long rate, IKvReadMeta* meta);
HRESULT KVAPI KvFMMeta_WriteMetaStream(const wchar_t* path, BOOL toSidecar, unsigned long rate, IKvReadMeta* meta);
HRESULT KVAPI KvFMMeta_WriteMetaStreamEx(const wchar_t* path, BOOL toSidecar, unsigned long rate, IKvReadMeta* meta,
                                         KVFIO_TYPESOFMETADATA kinds);
// Updaters: the kinds move to where they are asked for; an existing sidecar
// is kept and its chunks of those kinds replaced.
HRESULT KVAPI KvFMMeta_UpdateMetaStream2(const wchar_t* path, unsigned long rate, IKvReadMeta* meta,
                                         KVFIO_TYPESOFMETADATA fileKinds, KVFIO_TYPESOFMETADATA sidecarKinds);
HRESULT KVAPI KvFMMeta_UpdateMetaStream(const wchar_t* path, BOOL toSidecar, unsigned long rate, IKvReadMeta* meta);
HRESULT KVAPI KvFMMeta_UpdateMetaStreamEx(const wchar_t* path, BOOL toSidecar, unsigned long rate,
                                          IKvReadMeta* meta, KVFIO_TYPESOFMETADATA kinds);
// The same for 64-bit RIFF media files (the sidecar stays a RIFF file).
HRESULT KVAPI KvFMMeta64_openAndWriteMetaStream(const wchar_t* path, int keepChunks, unsigned long rate,
                                                IKvReadMeta* meta, KVFIO_TYPESOFMETADATA fileKinds,
                                                KVFIO_TYPESOFMETADATA sidecarKinds);
HRESULT KVAPI KvFMMeta64_UpdateMetaStream(const wchar_t* path, unsigned long rate, IKvReadMeta* meta,
                                          KVFIO_TYPESOFMETADATA fileKinds, KVFIO_TYPESOFMETADATA sidecarKinds);

KV_EXTERN_C_END

// ---- library-internal operations ----

// The kinds of wanted that the reader holds (with items, or with acceptEmpty
// whenever their stream exists).
KVFIO_TYPESOFMETADATA KvFMMeta_ProbeKinds(IKvReadMeta* meta, KVFIO_TYPESOFMETADATA wanted, BOOL acceptEmpty);
// Deletes the chunks named by the reader's raw-chunk items.
HRESULT KvFMMeta_DeleteRawChunks(HANDLE file, IKvReadMeta* meta);
// Appends the chunks of the kinds that the reader holds.
HRESULT KvFMMeta_WriteChunks(HANDLE file, unsigned long rate, IKvReadMeta* meta, KVFIO_TYPESOFMETADATA kinds);
HRESULT KvFMMeta64_WriteChunks(HANDLE file, unsigned long rate, IKvReadMeta* meta, KVFIO_TYPESOFMETADATA kinds);
// Writes the reader's generic streams of the kinds; *kinds loses the bits of
// the summary, marker and "kv03" kinds once they are written.
HRESULT KvFMMeta_WriteGenericStreams(HANDLE file, IKvReadMeta* meta, KVFIO_TYPESOFMETADATA* kinds, BOOL riff64);
// A new sidecar at sidecarPath holding the kinds and naming mediaPath.
HRESULT KvFMMeta_CreateSidecar(const wchar_t* mediaPath, const wchar_t* sidecarPath, unsigned long rate,
                               IKvReadMeta* meta, KVFIO_TYPESOFMETADATA kinds);
// The media file's sidecar, created or with its chunks of the kinds replaced.
HRESULT KvFMMeta_UpdateSidecar(const wchar_t* mediaPath, unsigned long rate, IKvReadMeta* meta,
                               KVFIO_TYPESOFMETADATA kinds);
// Appends the "KVPI" chunk naming mediaPath.
HRESULT KvFMMeta_WriteAttachedFilename(HANDLE file, const wchar_t* mediaPath);
// out = the media file's sidecar name (replaced extension, else appended);
// TRUE when that file is the media file's sidecar.
BOOL KvFMMeta_FindMetaFile(const wchar_t* mediaPath, wchar_t* out, long cch);
