// The kinds of metadata chunks in RIFF-family files and sidecar files, their
// GUIDs, and the file-level operations on their chunks that need no reader:
// the deletion of the chunks of given kinds, the chunk frame that appends a
// chunk at the end of the RIFF content, and the media-file name a sidecar's
// "KVPI" chunk holds. They work on the file handles of the platform seam
// (kvfile.h), so they build natively as well.
#pragma once

#include <stdint.h>

#include "kvfile.h"
#include "kvportable.h"

// A bit set of metadata kinds.
typedef DWORD KVFIO_TYPESOFMETADATA;

#define KVFIO_META_SUMMARY 0x000001u    // LIST "INFO"
#define KVFIO_META_TYPE2 0x000002u      // probed only
#define KVFIO_META_MARKERS 0x000004u    // "cue ", LIST "adtl", "kv01"
#define KVFIO_META_SCOT 0x000010u       // "scot"
#define KVFIO_META_PLAYLIST 0x000020u   // "plst", "kv02"
#define KVFIO_META_TLST 0x000040u       // "tlst"
#define KVFIO_META_DISPLAY 0x000080u    // "DISP"
#define KVFIO_META_SAMPLER 0x000100u    // "smpl"
#define KVFIO_META_AIFFINST 0x000200u   // AIFF "MARK" and "INST"
#define KVFIO_META_RAW 0x000400u        // the reader's own chunks
#define KVFIO_META_STR2 0x004000u       // "str2"
#define KVFIO_META_BMRK 0x008000u       // "bmrk"
#define KVFIO_META_DTBT 0x010000u       // "dtbt"
#define KVFIO_META_KV03 0x020000u       // "kv03"
#define KVFIO_META_PICTURES 0x040000u   // LIST "pic ", deleted only
#define KVFIO_META_KV04 0x100000u       // "kv04"
#define KVFIO_META_BMPI 0x200000u       // "bmpi"
#define KVFIO_META_BMPM 0x400000u       // "bmpm"

// Kind GUIDs: the id of a reader's generic stream of that kind, and the
// chunk id of the kind in 64-bit RIFF files.
// {925F94BC-525A-11D2-86DC-00C04F8EDB8A}
constexpr GUID KVFIO_METAGUID_SUMMARY = {0x925F94BC, 0x525A, 0x11D2, {0x86, 0xDC, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A}};
// {C42554A2-0DE9-41F5-BFF2-C32573F905E3}
constexpr GUID KVFIO_METAGUID_TYPE2 = {0xC42554A2, 0x0DE9, 0x41F5, {0xBF, 0xF2, 0xC3, 0x25, 0x73, 0xF9, 0x05, 0xE3}};
// {ABF76256-392D-11D2-86C7-00C04F8EDB8A}
constexpr GUID KVFIO_METAGUID_MARKERS = {0xABF76256, 0x392D, 0x11D2, {0x86, 0xC7, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A}};
// {BD481736-2F2C-40E8-A0AB-3D523EEB226E}
constexpr GUID KVFIO_METAGUID_SCOT = {0xBD481736, 0x2F2C, 0x40E8, {0xA0, 0xAB, 0x3D, 0x52, 0x3E, 0xEB, 0x22, 0x6E}};
// {F686AA44-6773-4AAD-93B5-1007C12A8CDB}
constexpr GUID KVFIO_METAGUID_PLAYLIST = {0xF686AA44, 0x6773, 0x4AAD, {0x93, 0xB5, 0x10, 0x07, 0xC1, 0x2A, 0x8C, 0xDB}};
// {BE46E415-5EA4-4264-9283-3B2092D57F66}
constexpr GUID KVFIO_METAGUID_TLST = {0xBE46E415, 0x5EA4, 0x4264, {0x92, 0x83, 0x3B, 0x20, 0x92, 0xD5, 0x7F, 0x66}};
// {612CCA25-92BB-4C55-8408-7BDA2F15BD27}
constexpr GUID KVFIO_METAGUID_DISPLAY = {0x612CCA25, 0x92BB, 0x4C55, {0x84, 0x08, 0x7B, 0xDA, 0x2F, 0x15, 0xBD, 0x27}};
// {07A22A98-F29A-4FA4-B7B5-57C9D371DB38}: the sampler and the AIFF instrument
constexpr GUID KVFIO_METAGUID_SAMPLER = {0x07A22A98, 0xF29A, 0x4FA4, {0xB7, 0xB5, 0x57, 0xC9, 0xD3, 0x71, 0xDB, 0x38}};
// {D907621B-CA0D-40C3-A89D-2A182B5D20B7}
constexpr GUID KVFIO_METAGUID_RAW = {0xD907621B, 0xCA0D, 0x40C3, {0xA8, 0x9D, 0x2A, 0x18, 0x2B, 0x5D, 0x20, 0xB7}};
// {62574347-69A7-473A-A89E-D5B0FA7C9F7E}
constexpr GUID KVFIO_METAGUID_STR2 = {0x62574347, 0x69A7, 0x473A, {0xA8, 0x9E, 0xD5, 0xB0, 0xFA, 0x7C, 0x9F, 0x7E}};
// {B2A0A152-055E-4475-86F1-5D78AF15A056}
constexpr GUID KVFIO_METAGUID_BMRK = {0xB2A0A152, 0x055E, 0x4475, {0x86, 0xF1, 0x5D, 0x78, 0xAF, 0x15, 0xA0, 0x56}};
// {3AE34B75-F55E-44EC-A2F0-F4EB3C53AF7D}
constexpr GUID KVFIO_METAGUID_DTBT = {0x3AE34B75, 0xF55E, 0x44EC, {0xA2, 0xF0, 0xF4, 0xEB, 0x3C, 0x53, 0xAF, 0x7D}};
// {6EE8897A-3617-4B2D-9213-9179E884B734}
constexpr GUID KVFIO_METAGUID_KV03 = {0x6EE8897A, 0x3617, 0x4B2D, {0x92, 0x13, 0x91, 0x79, 0xE8, 0x84, 0xB7, 0x34}};
// {20636970-ACF2-11D3-8CD1-00C04F8EDB8A}
constexpr GUID KVFIO_METAGUID_PICTURES = {0x20636970, 0xACF2, 0x11D3, {0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A}};
// {870914E2-5832-4639-988A-375E778AC44A}
constexpr GUID KVFIO_METAGUID_KV04 = {0x870914E2, 0x5832, 0x4639, {0x98, 0x8A, 0x37, 0x5E, 0x77, 0x8A, 0xC4, 0x4A}};
// {CC7E18D8-BF95-4D30-BC30-DFB6C28C1D08}
constexpr GUID KVFIO_METAGUID_BMPI = {0xCC7E18D8, 0xBF95, 0x4D30, {0xBC, 0x30, 0xDF, 0xB6, 0xC2, 0x8C, 0x1D, 0x08}};
// {8A2EBAD0-A180-4C9E-8778-587A7CBD9EF6}
constexpr GUID KVFIO_METAGUID_BMPM = {0x8A2EBAD0, 0xA180, 0x4C9E, {0x87, 0x78, 0x58, 0x7A, 0x7C, 0xBD, 0x9E, 0xF6}};

// The kind bit of a kind GUID; 0 for an unknown GUID.
KVFIO_TYPESOFMETADATA KvFMMeta_KindFromGuid(const GUID& guid);
// The kind GUID of a kind bit (0x200 gives the sampler GUID); null when none.
const GUID* KvFMMeta_GuidFromKind(KVFIO_TYPESOFMETADATA kind);

// Deletes every chunk of the kinds (absent chunks are fine). An AIFF file
// loses only its instrument and markers, with 0x200 among the kinds.
HRESULT KvFMMeta_DeleteChunksOfKinds(HANDLE file, KVFIO_TYPESOFMETADATA kinds);
HRESULT KvFMMeta64_DeleteChunksOfKinds(HANDLE file, KVFIO_TYPESOFMETADATA kinds);
// Deletes every top-level chunk with the id from a RIFF file (absent is fine).
HRESULT KvFMMeta_DeleteAll(HANDLE file, DWORD id, BOOL isList);

// The media file's name that a sidecar names: the bytes of its "KVPI" chunk
// up to the first zero, at most cch - 1 of them, terminated. KV_E_NOTFOUND
// for a file that is not a sidecar ("KVPL" form) or has no "KVPI" chunk.
HRESULT KvFMMeta_ReadAttachedName(HANDLE file, char* out, DWORD cch);

// The chunk frame. Begin appends the header {id, 0} at the end of the RIFF
// content and gives the position of its size field; End pads an odd payload
// with a zero byte, writes the padded size and grows the RIFF size by it + 8.
HRESULT KvFMMeta_BeginChunk(HANDLE file, DWORD id, int64_t* sizePos);
HRESULT KvFMMeta_EndChunk(HANDLE file, int64_t sizePos, DWORD size);
// 64-bit RIFF: header {guid, 0} at the end of the content; End pads to a
// multiple of 8 and writes padded size + 24 into the header and the RIFF size.
HRESULT KvFMMeta64_BeginChunk(HANDLE file, const GUID& id, int64_t* sizePos);
HRESULT KvFMMeta64_EndChunk(HANDLE file, int64_t sizePos, uint64_t size);
