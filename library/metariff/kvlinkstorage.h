// Project links stored in files and taken from readers: ten top-level
// chunks of a RIFF file (FourCC ids, padded to even) or of a 64-bit RIFF
// file (GUID ids, padded to 8), and the project-link faces of a file
// reader's IKvReadMeta (one IStream per field).
//
// Chunk payloads are the record's fields byte for byte; the version chunk
// ("splv") is required, a version whose top byte is above 1 is refused
// (0x8004E01C), and the savers always store 0x01000100, last.
#pragma once

#include <stdint.h>

#include "kvapi.h"
#include "kvfile.h"
#include "kvlinkproject.h"
#include "kvstream.h"
#ifdef _WIN32
#include "kvfileio.h"
#endif

#define KVLINK_VERSION 0x01000100u

KV_EXTERN_C_BEGIN

// Loaders: the record is zeroed first without releasing anything (it must
// not own buffers); on a failure its buffers are released. *loaded = 1 when
// any field was loaded (64-bit RIFF: on every success).
HRESULT KVAPI ProjectLinkRiff_LoadInfo(HANDLE file, CKvLinkProjectInfo* info, int* loaded);
HRESULT KVAPI ProjectLinkRiff64_LoadInfo(HANDLE file, CKvLinkProjectInfo* info, int* loaded);
// Savers: the record must pass Validate (else 0x8004E05D, file untouched);
// the ten chunks are deleted, then the fields written and the version last.
HRESULT KVAPI ProjectLinkRiff_SaveInfo(HANDLE file, CKvLinkProjectInfo* info);
HRESULT KVAPI ProjectLinkRiff64_SaveInfo(HANDLE file, CKvLinkProjectInfo* info);
// Write or replace one top-level chunk; *added receives the growth of the
// RIFF content (0 when the chunk was replaced in place).
HRESULT KVAPI ProjectLinkRiff_WriteChunk(HANDLE file, DWORD id, const void* data, DWORD size, DWORD* added);
HRESULT KVAPI ProjectLinkRiff64_WriteChunk(HANDLE file, const GUID* id, const void* data, uint64_t size,
                                           uint64_t* added);
// Deletes the ten project-link chunks of a 64-bit RIFF file.
HRESULT KVAPI ProjectLinkRiff64_DeleteChunks(HANDLE file, uint64_t* removed);

// Whole-stream readers. ReadAll gives a zero-filled global memory block with
// four zero bytes after the stream's data (so a text is always terminated);
// *size is the stream's size. ReadFixed reads at most bufSize bytes.
HRESULT KVAPI ProjectLinkReadMeta_ReadAll(IStream* stream, void** block, DWORD* size);
HRESULT KVAPI ProjectLinkReadMeta_ReadFixed(IStream* stream, void* buf, DWORD bufSize, DWORD* size);

#ifdef _WIN32
// The project link of a reader: *loaded = 1 when the record is valid.
HRESULT KVAPI ProjectLinkReadMeta_LoadInfo(IKvReadMeta* meta, CKvLinkProjectInfo* info, int* loaded);
// The field-by-field copy: S_FALSE when the reader gives no field.
HRESULT KVAPI ProjectLinkReadMeta_LoadInfoFrom(IKvReadMeta* meta, IKvReadProjectLinkMeta* link,
                                               CKvLinkProjectInfo* info);

// Copy a reader's project link into a file by path: the media file itself
// (which must exist) or, with sidecar set, its sidecar "<media path>.kvl"
// (a RIFF file of form "KVPL" with a "KVPI" chunk naming the media file,
// created when missing). Nothing is done without a reader, a project-link
// face or any field; a sidecar created here is removed again when nothing
// was saved into it.
HRESULT KVAPI ProjectLinkRiff_SaveFromReadMeta(const wchar_t* mediaPath, IKvReadMeta* meta, BOOL sidecar);
HRESULT KVAPI ProjectLinkRiff64_SaveFromReadMeta(const wchar_t* path, IKvReadMeta* meta);
#endif  // _WIN32

KV_EXTERN_C_END

// Chunk ids.
// {E4E76B7B-339F-4820-8AA9-6915A722024E}
constexpr GUID KVLINK64_VERSION = {0xE4E76B7B, 0x339F, 0x4820, {0x8A, 0xA9, 0x69, 0x15, 0xA7, 0x22, 0x02, 0x4E}};
// {830AC81C-4C96-4F91-9975-C707E1736EC7}
constexpr GUID KVLINK64_PROJECTPATH = {0x830AC81C, 0x4C96, 0x4F91, {0x99, 0x75, 0xC7, 0x07, 0xE1, 0x73, 0x6E, 0xC7}};
// {CBE52EDB-C5D2-44BC-B5DC-EF55E946F073}
constexpr GUID KVLINK64_COMMANDLINE = {0xCBE52EDB, 0xC5D2, 0x44BC, {0xB5, 0xDC, 0xEF, 0x55, 0xE9, 0x46, 0xF0, 0x73}};
// {9F4A912F-9D66-426E-A781-F9E7E01524FE}
constexpr GUID KVLINK64_RENDERERGUID = {0x9F4A912F, 0x9D66, 0x426E, {0xA7, 0x81, 0xF9, 0xE7, 0xE0, 0x15, 0x24, 0xFE}};
// {B5EDD3A2-0673-4466-8446-CA87DD80A487}
constexpr GUID KVLINK64_TEMPLATENAME = {0xB5EDD3A2, 0x0673, 0x4466, {0x84, 0x46, 0xCA, 0x87, 0xDD, 0x80, 0xA4, 0x87}};
// {7834233F-573A-475E-8F02-568D131BE2DF}
constexpr GUID KVLINK64_TEMPLATEDATA = {0x7834233F, 0x573A, 0x475E, {0x8F, 0x02, 0x56, 0x8D, 0x13, 0x1B, 0xE2, 0xDF}};
// {29C90B65-D288-4F92-814F-1C67593A6860}
constexpr GUID KVLINK64_APPTEMPLATEDATA = {
    0x29C90B65, 0xD288, 0x4F92, {0x81, 0x4F, 0x1C, 0x67, 0x59, 0x3A, 0x68, 0x60}};
// {FCD163D0-D709-4568-9110-831D2C9455F2}
constexpr GUID KVLINK64_CREATORAPPINFO = {0xFCD163D0, 0xD709, 0x4568, {0x91, 0x10, 0x83, 0x1D, 0x2C, 0x94, 0x55, 0xF2}};
// {738F13D9-B70F-4309-988E-48425326F669}
constexpr GUID KVLINK64_CREATORAPPWINDOWCLASSNAME = {
    0x738F13D9, 0xB70F, 0x4309, {0x98, 0x8E, 0x48, 0x42, 0x53, 0x26, 0xF6, 0x69}};
// {6D0BE4ED-C296-4596-9343-25EC043754ED}
constexpr GUID KVLINK64_PROJECTDATA = {0x6D0BE4ED, 0xC296, 0x4596, {0x93, 0x43, 0x25, 0xEC, 0x04, 0x37, 0x54, 0xED}};
