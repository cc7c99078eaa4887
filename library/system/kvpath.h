// Paths, files and folders: parts of a path, building and trimming, canonical
// forms, relocation between base folders, file tests (executables, DOS date
// and time), temporary files, folder trees (delete, size, move with
// progress), disk space, byte-size texts, the maker's special folders and
// fitting a path into a pixel width. Capacities count characters including
// the terminator; working copies of paths are MAX_PATH characters.
#pragma once

#include "kvapi.h"

// Progress of a folder move: percent done and the file being copied; a
// negative answer cancels.
typedef int(__stdcall* KVMOVEPROGRESS)(void* context, double percent, const wchar_t* path);

// Library string ids of the disk-space text.
#define IDS_KV_DISK_UNKNOWN 48345
#define IDS_KV_DISK_MEGABYTES 48346

KV_EXTERN_C_BEGIN

// Parts of a path.
wchar_t* KVAPI KvGetFileNamePtrW(const wchar_t* path);
char* KVAPI KvGetFileNamePtrA(const char* path);
wchar_t* KVAPI KvGetFileNameExtensionPtrW(const wchar_t* path);
char* KVAPI KvGetFileNameExtensionPtrA(const char* path);
wchar_t* KVAPI KvGetFileNameWithoutPathOrExtension(const wchar_t* path, wchar_t* out, int cch);
int KVAPI KvGetPathNameFromFilePath(const wchar_t* path, wchar_t* out, int cch);
int KVAPI KvGetRootPathFromFilePath(const wchar_t* path, wchar_t* out, int cch);

// Building and trimming.
int KVAPI KvAddSlashToPathName(wchar_t* path, int cch);
int KVAPI KvRemoveSlashFromPathNameEnd(wchar_t* path, int cch);
int KVAPI KvAppendToPathName(wchar_t* path, int cch, const wchar_t* name, const wchar_t* extension);
wchar_t* KVAPI KvReplaceExtensionOnPathName(wchar_t* path, int cch, const wchar_t* extension);
int KVAPI KvAddExtensionToPathName(wchar_t* path, int cch, const wchar_t* extension);
BOOL KVAPI KvValidateFileName(wchar_t* name, BOOL fix);
BOOL KVAPI KvIsMatchWildCard(const wchar_t* pattern, const wchar_t* name);

// Canonical forms.
DWORD KVAPI KvGetLongPathName(const wchar_t* path, wchar_t* out, DWORD cch);
DWORD KVAPI KvGetFullPathName(const wchar_t* path, DWORD cch, wchar_t* out, wchar_t** filePart);
DWORD KVAPI KvGetTempPath(DWORD cch, wchar_t* out);
DWORD KVAPI KvGetModuleFileName(HMODULE module, wchar_t* out, DWORD cch);
DWORD KVAPI KvGetModulePath(HMODULE module, wchar_t* out, DWORD cch);
BOOL KVAPI KvQualifyPath(const wchar_t* path, wchar_t* out, DWORD cch);

// Relocation between base folders.
wchar_t* KVAPI KvGetFileNamePtrRelative(const wchar_t* base, const wchar_t* path);
HRESULT KVAPI KvGetBasePathRelative(const wchar_t* base, const wchar_t* path, wchar_t* out, int cch);
HRESULT KVAPI KvReplaceBasePathRelative(const wchar_t* path, const wchar_t* oldBase, const wchar_t* newBase,
                                        wchar_t* out, int cch);

// Files.
BOOL KVAPI KvDoesFileExist(const wchar_t* path);
BOOL KVAPI KvIsFileWritable(const wchar_t* path);
BOOL KVAPI KvIsFileExecutable(HANDLE file, DWORD* machine, WORD* characteristics);
HRESULT KVAPI KvGetFileExecutableInfo(const wchar_t* path, DWORD* machine, WORD* characteristics);
HRESULT KVAPI KvGetFileSizeByName(const wchar_t* path, LONGLONG* size);
DWORD KVAPI KvDosGetDateTime(const wchar_t* path);
DWORD KVAPI KvDosGetDateTimeUTC(const wchar_t* path);
DWORD KVAPI KvGetDateTime(DWORD* record);
HRESULT KVAPI KvCreateTempFileAndNameEx(const wchar_t* folder, const wchar_t* prefix, const wchar_t* suffix,
                                        const wchar_t* numberFormat, wchar_t* out, int cch);
HRESULT KVAPI KvCreateTempFileAndName(const wchar_t* prefix, const wchar_t* suffix, wchar_t* out, int cch);

// Folders.
BOOL KVAPI KvCreateDirectory(const wchar_t* path, SECURITY_ATTRIBUTES* security);
BOOL KVAPI KvIsDirectoryEmpty(const wchar_t* folder);
BOOL KVAPI KvIsDirectoryWritable(const wchar_t* folder);
HRESULT KVAPI KvGetUniqueSubFolder(const wchar_t* parent, const wchar_t* name, wchar_t* out, int cch);
BOOL KVAPI KvDeleteFiles(const wchar_t* folder, const wchar_t* pattern, BOOL recurse);
BOOL KVAPI KvDeleteDirectoryTree(const wchar_t* folder, BOOL removeFolder);
HRESULT KVAPI KvGetDirectorySize(const wchar_t* folder, LONGLONG* size);
HRESULT KVAPI KvMoveFolder(const wchar_t* destination, const wchar_t* source, DWORD* files, KVMOVEPROGRESS progress,
                           void* context);
HRESULT KVAPI KvCanMoveFolder(const wchar_t* folder);
DWORD KVAPI KvGetDiskFreeSpace(const wchar_t* path, DWORD divisor);
DWORD KVAPI KvGetDiskTotalSpace(const wchar_t* path, DWORD divisor);
int KVAPI KvFormatDiskFreeSpace(const wchar_t* path, wchar_t* out);

// Byte-size texts.
int KVAPI KvGetByteSizeText(LONGLONG bytes, wchar_t* out);
int KVAPI KvGetByteSizeText2(LONGLONG bytes, wchar_t* out);

// The maker's folders.
HRESULT KVAPI KvGetSpecialFolderVer(wchar_t* out, int cch, int csidl, const wchar_t* name, int major, int minor);
HRESULT KVAPI KvGetSpecialFolderNoVer(wchar_t* out, int cch, int csidl, const wchar_t* name);
HRESULT KVAPI KvGetSharedComponentsFolder(wchar_t* out, int cch);
HRESULT KVAPI KvGetSpecialOrvaneFolder(wchar_t* out, int cch, int kind);
HRESULT KVAPI KvSetSpecialOrvaneFolder(const wchar_t* path, int kind);
HRESULT KVAPI KvGetSpecialOrvaneDefaultFolderName(wchar_t* out, int cch, int kind);

// Fitting a path into a width.
HRESULT KVAPI KvCalcPathEllipsisEx(HDC dc, const wchar_t* path, wchar_t* out, int cch, int width);
BOOL KVAPI KvCalcPathEllipsis(HDC dc, wchar_t* path, int width);
HRESULT KVAPI KvCalcPathEllipsisExCtl(HWND control, const wchar_t* path, wchar_t* out, int cch, int margin);
HRESULT KVAPI KvFilenameFormat(HDC dc, int width, const wchar_t* path, wchar_t* out, int cch, int mode);
HRESULT KVAPI KvFilenameFormatForCtl(HWND control, const wchar_t* path, wchar_t* out, int cch, int mode);
HRESULT KVAPI KvFilenameFormatForWidth(HFONT font, int width, const wchar_t* path, wchar_t* out, int cch, int mode);

KV_EXTERN_C_END

// Library-internal: folder walk of a move (0 move, 1 copy, 2 check).
HRESULT KvPath_WalkFolder(const wchar_t* source, const wchar_t* destination, int mode, DWORD* files,
                          LONGLONG* bytesDone, LONGLONG total, KVMOVEPROGRESS progress, void* context);
