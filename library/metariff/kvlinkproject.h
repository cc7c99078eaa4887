// The project-link record: a link from a rendered media file back to the
// project it came from (project path, command line, renderer and template,
// opaque template and project data, the creating application). Exported
// class of the utility library, no base class and no virtual operations.
//
// Every buffer is a movable global memory block (see kvglobalblock.h); the
// record owns its buffers and releases them in FreeMemory. A presence bit
// per field tells which fields it holds. Buffers handed over through the
// ...ToBuffer operations must come from the same allocator.
//
// Project data is an in-memory RIFF list: "LIST", list size (4 + items),
// "spel", then items {FourCC id, u32 unpadded size, data, pad to even};
// ids are unique within the list.
#pragma once


#include "kvapi.h"
#include "kvstream.h"

// Presence bits.
#define KVLINK_PROJECTPATH 0x001u
#define KVLINK_COMMANDLINE 0x002u
#define KVLINK_RENDERERGUID 0x004u
#define KVLINK_TEMPLATENAME 0x008u
#define KVLINK_TEMPLATEDATA 0x010u
#define KVLINK_APPTEMPLATEDATA 0x020u
#define KVLINK_CREATORAPPINFO 0x040u
#define KVLINK_PROJECTDATA 0x080u
#define KVLINK_CREATORAPPWINDOWCLASSNAME 0x100u

// Field ids under which the fields travel through the reader's project-link
// faces and the plug-in's MP4 project-link blobs (0 is the version).
#define KVLINK_FIELD_VERSION 0
#define KVLINK_FIELD_PROJECTPATH 1
#define KVLINK_FIELD_COMMANDLINE 2
#define KVLINK_FIELD_RENDERERGUID 3
#define KVLINK_FIELD_TEMPLATENAME 4
#define KVLINK_FIELD_TEMPLATEDATA 5
#define KVLINK_FIELD_APPTEMPLATEDATA 6
#define KVLINK_FIELD_PROJECTDATA 7
#define KVLINK_FIELD_CREATORAPPINFO 8
#define KVLINK_FIELD_CREATORAPPWINDOWCLASSNAME 9

class CKvLinkProjectInfo {
 public:
  CKvLinkProjectInfo();
  ~CKvLinkProjectInfo();

  // Zeroes every field without releasing anything.
  void Init();
  // Releases every buffer (the GUID, its bit and the version stay).
  void FreeMemory();
  // Copies every field as it stands: both records then share the buffers,
  // and exactly one of them may release them (pass the other through Init).
  CKvLinkProjectInfo& operator=(const CKvLinkProjectInfo& other);

  // Plain accessors: no checks, no copies.
  WCHAR* GetProjectPath();
  WCHAR* GetCommandLineW();
  WCHAR* GetTemplateName();
  WCHAR* GetCreatorAppInfo();
  WCHAR* GetCreatorAppWindowClassName();
  void* GetTemplateData();
  void* GetAppTemplateData();
  void* GetProjectData();
  WCHAR** GetProjectPathPtr();
  WCHAR** GetCommandLinePtr();
  WCHAR** GetTemplateNamePtr();
  void** GetTemplateDataPtr();
  void** GetAppTemplateDataPtr();
  WCHAR** GetCreatorAppInfoPtr();
  WCHAR** GetCreatorAppWindowClassNamePtr();
  void** GetProjectDataPtr();
  DWORD GetProjectPathSize();
  DWORD GetCommandLineSize();
  DWORD GetTemplateNameSize();
  DWORD GetTemplateDataSize();
  DWORD GetAppTemplateDataSize();
  DWORD GetCreatorAppInfoSize();
  DWORD GetCreatorAppWindowClassNameSize();
  DWORD GetProjectDataSize();
  DWORD* GetProjectPathSizePtr();
  DWORD* GetCommandLineSizePtr();
  DWORD* GetTemplateNameSizePtr();
  DWORD* GetTemplateDataSizePtr();
  DWORD* GetAppTemplateDataSizePtr();
  DWORD* GetCreatorAppInfoSizePtr();
  DWORD* GetCreatorAppWindowClassNameSizePtr();
  DWORD* GetProjectDataSizePtr();
  GUID* GetRendererGuid();
  DWORD GetVersion();

  // Release the field's buffer, then allocate a zero-filled one of size
  // bytes and record it; null on failure. The bit is not set.
  WCHAR* AllocProjectPath(DWORD size);
  WCHAR* AllocCommandLine(DWORD size);
  WCHAR* AllocTemplateName(DWORD size);
  void* AllocTemplateData(DWORD size);
  void* AllocAppTemplateData(DWORD size);
  WCHAR* AllocCreatorAppInfo(DWORD size);
  WCHAR* AllocCreatorAppWindowClassName(DWORD size);
  void* AllocProjectData(DWORD size);

  // Release the field's buffer, then adopt the given one. The bit is not set.
  void SetProjectPathToBuffer(WCHAR* buffer, DWORD size);
  void SetCommandLineToBuffer(WCHAR* buffer, DWORD size);
  void SetTemplateNameToBuffer(WCHAR* buffer, DWORD size);
  void SetTemplateDataToBuffer(void* buffer, DWORD size);
  void SetAppTemplateDataToBuffer(void* buffer, DWORD size);
  void SetCreatorAppInfoToBuffer(WCHAR* buffer, DWORD size);
  void SetCreatorAppWindowClassNameToBuffer(WCHAR* buffer, DWORD size);
  void SetProjectDataToBuffer(void* buffer, DWORD size);

  // Setters: a copy of the text with its terminator (size in bytes) and the
  // bit set; E_INVALIDARG for null, E_OUTOFMEMORY (the old value kept). A
  // value already there is replaced and its block freed.
  HRESULT SetProjectPath(const WCHAR* text);
  HRESULT SetCommandLine(const WCHAR* text);
  HRESULT SetTemplateName(const WCHAR* text);
  HRESULT SetCreatorAppInfo(const WCHAR* text);
  HRESULT SetCreatorAppWindowClassName(const WCHAR* text);
  HRESULT SetTemplateData(const void* data, DWORD size);
  HRESULT SetAppTemplateData(const void* data, DWORD size);
  HRESULT SetRendererGuid(GUID guid);
  HRESULT SetVersion(DWORD version);
  // Adds one item to the project-data list.
  HRESULT SetProjectData(DWORD id, const void* data, DWORD size);

  // Copy the text into buf (at most cch - 1 characters and a terminator;
  // empty when the field is absent); the result is the length copied.
  int GetProjectPath(WCHAR* buf, int cch);
  int GetCommandLineW(WCHAR* buf, int cch);
  int GetTemplateName(WCHAR* buf, int cch);
  int GetCreatorAppInfo(WCHAR* buf, int cch);
  int GetCreatorAppWindowClassName(WCHAR* buf, int cch);
  // One item of the project-data list: with buf null, *size receives the
  // item's size; otherwise the item is copied when *size is large enough.
  HRESULT GetProjectData(DWORD id, void* buf, DWORD* size);

  // One IStream::Write of the field's bytes; S_FALSE when the field is absent.
  HRESULT WriteProjectPathToStream(IStream* stream);
  HRESULT WriteCommandLineToStream(IStream* stream);
  HRESULT WriteRendererGuidToStream(IStream* stream);
  HRESULT WriteTemplateNameToStream(IStream* stream);
  HRESULT WriteTemplateDataToStream(IStream* stream);
  HRESULT WriteAppTemplateDataToStream(IStream* stream);
  HRESULT WriteCreatorAppInfoToStream(IStream* stream);
  HRESULT WriteCreatorAppWindowClassNameToStream(IStream* stream);
  HRESULT WriteProjectDataToStream(IStream* stream);
  HRESULT WriteVersionToStream(IStream* stream);

  // S_OK, S_FALSE (valid, but a buffer is present whose bit is clear) or
  // 0x8004E05D.
  HRESULT ValidateProjectLink();
  HRESULT ValidateProjectData();
  HRESULT Validate();

 private:
  // The storage routines load fields straight into the record.
  friend struct KvLinkProjectAccess;
  CKvLinkProjectInfo(const CKvLinkProjectInfo&) = delete;

  void _FreeProjectPath();
  void _FreeCommandLine();
  void _FreeTemplateName();
  void _FreeTemplateData();
  void _FreeAppTemplateData();
  void _FreeCreatorAppInfo();
  void _FreeCreatorAppWindowClassName();
  void _FreeProjectData();
  HRESULT _AllocSetString(const WCHAR* text, WCHAR** field, DWORD* size, DWORD bit);
  HRESULT _AllocSetStringW(const WCHAR* text, WCHAR** field, DWORD* size, DWORD bit);

  DWORD m_flags;
  DWORD m_version;
  WCHAR* m_projectPath;
  DWORD m_projectPathSize;
  WCHAR* m_commandLine;
  DWORD m_commandLineSize;
  GUID m_rendererGuid;
  WCHAR* m_templateName;
  DWORD m_templateNameSize;
  void* m_templateData;
  DWORD m_templateDataSize;
  void* m_appTemplateData;
  DWORD m_appTemplateDataSize;
  WCHAR* m_creatorAppInfo;
  DWORD m_creatorAppInfoSize;
  WCHAR* m_creatorAppWindowClassName;
  DWORD m_creatorAppWindowClassNameSize;
  void* m_projectData;
  DWORD m_projectDataSize;
};
