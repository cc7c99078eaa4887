// The project-link record: field storage in movable global memory, setters
// and getters, stream writers, validation and the project-data list.
#include "kvlinkproject.h"

#include <string.h>

#include "kvbyteorder.h"
#include "kvmemblock.h"
#include "kvmriff.h"
#include "kvwidetext.h"

namespace {

const DWORD kList = KVRIFF_FOURCC('L', 'I', 'S', 'T');
const DWORD kSpel = KVRIFF_FOURCC('s', 'p', 'e', 'l');

template <typename T>
void ReleaseField(DWORD* flags, DWORD bit, T** ptr, DWORD* size) {
  kvblock::Free(*ptr);
  *ptr = nullptr;
  *size = 0;
  *flags &= ~bit;
}

template <typename T>
T* AllocField(DWORD* flags, DWORD bit, T** ptr, DWORD* size, DWORD bytes) {
  ReleaseField(flags, bit, ptr, size);
  T* p = static_cast<T*>(kvblock::Alloc(bytes));
  if (!p) return nullptr;
  *ptr = p;
  *size = bytes;
  return p;
}

// Copies a text field into a caller's buffer. The copy never reads past the
// field's recorded size, so a buffer without a terminator is safe.
int CopyTextOut(DWORD flags, DWORD bit, const WCHAR* text, DWORD size, WCHAR* buf, int cch) {
  if (!buf) return 0;
  if (cch <= 0) return 0;
  if (!(flags & bit) || !text) {
    buf[0] = 0;
    return 0;
  }
  DWORD chars = size / sizeof(WCHAR);
  DWORD limit = static_cast<DWORD>(cch - 1);
  DWORD n = 0;
  while (n < limit && n < chars && text[n]) {
    buf[n] = text[n];
    ++n;
  }
  buf[n] = 0;
  return static_cast<int>(n);
}

HRESULT WriteField(IStream* stream, const void* data, DWORD size) {
  if (!stream) return E_POINTER;
  return stream->Write(data, size, nullptr);
}

// Finds the item id in a project-data list. On success *item points at the
// item's data and *itemSize is its size, checked to lie within the buffer.
HRESULT FindItem(void* buffer, DWORD bufferSize, DWORD id, BYTE** item, DWORD* itemSize) {
  _tMRIFF m;
  HRESULT hr = mriff_Init(&m, buffer, bufferSize, bufferSize);
  if (FAILED(hr)) return hr;
  DWORD type = 0, listSize = 0;
  hr = mriff_ReadListHeader(&m, &type, &listSize);
  if (FAILED(hr)) return hr;
  if (type != kSpel) return E_UNEXPECTED;
  DWORD avail = bufferSize - 12;
  DWORD remaining = listSize < avail ? listSize : avail;
  DWORD size = 0;
  hr = mriff_FindChunkHeader(&m, id, &size, &remaining);
  if (FAILED(hr)) return hr;
  // An item that runs past the buffer is a short read.
  if (size > remaining) return KV_E_READ;
  *item = mriff_GetFilePointer(&m);
  *itemSize = size;
  return S_OK;
}

}  // namespace

CKvLinkProjectInfo::CKvLinkProjectInfo() { Init(); }

CKvLinkProjectInfo::~CKvLinkProjectInfo() { FreeMemory(); }

void CKvLinkProjectInfo::Init() {
  m_flags = 0;
  m_version = 0;
  m_projectPath = nullptr;
  m_projectPathSize = 0;
  m_commandLine = nullptr;
  m_commandLineSize = 0;
  memset(&m_rendererGuid, 0, sizeof(m_rendererGuid));
  m_templateName = nullptr;
  m_templateNameSize = 0;
  m_templateData = nullptr;
  m_templateDataSize = 0;
  m_appTemplateData = nullptr;
  m_appTemplateDataSize = 0;
  m_creatorAppInfo = nullptr;
  m_creatorAppInfoSize = 0;
  m_creatorAppWindowClassName = nullptr;
  m_creatorAppWindowClassNameSize = 0;
  m_projectData = nullptr;
  m_projectDataSize = 0;
}

void CKvLinkProjectInfo::FreeMemory() {
  _FreeProjectPath();
  _FreeCommandLine();
  _FreeTemplateName();
  _FreeTemplateData();
  _FreeAppTemplateData();
  _FreeCreatorAppInfo();
  _FreeCreatorAppWindowClassName();
  _FreeProjectData();
}

CKvLinkProjectInfo& CKvLinkProjectInfo::operator=(const CKvLinkProjectInfo& other) {
  if (this == &other) return *this;
  m_flags = other.m_flags;
  m_version = other.m_version;
  m_projectPath = other.m_projectPath;
  m_projectPathSize = other.m_projectPathSize;
  m_commandLine = other.m_commandLine;
  m_commandLineSize = other.m_commandLineSize;
  m_rendererGuid = other.m_rendererGuid;
  m_templateName = other.m_templateName;
  m_templateNameSize = other.m_templateNameSize;
  m_templateData = other.m_templateData;
  m_templateDataSize = other.m_templateDataSize;
  m_appTemplateData = other.m_appTemplateData;
  m_appTemplateDataSize = other.m_appTemplateDataSize;
  m_creatorAppInfo = other.m_creatorAppInfo;
  m_creatorAppInfoSize = other.m_creatorAppInfoSize;
  m_creatorAppWindowClassName = other.m_creatorAppWindowClassName;
  m_creatorAppWindowClassNameSize = other.m_creatorAppWindowClassNameSize;
  m_projectData = other.m_projectData;
  m_projectDataSize = other.m_projectDataSize;
  return *this;
}

// One family of operations per buffer field: free, accessors, allocation,
// adoption.
#define KVLINK_FIELD_OPS(Name, member, T, bit)                                                   \
  void CKvLinkProjectInfo::_Free##Name() {                                                       \
    if (m_##member) ReleaseField(&m_flags, bit, &m_##member, &m_##member##Size);                 \
  }                                                                                              \
  T** CKvLinkProjectInfo::Get##Name##Ptr() { return &m_##member; }                               \
  DWORD CKvLinkProjectInfo::Get##Name##Size() { return m_##member##Size; }                       \
  DWORD* CKvLinkProjectInfo::Get##Name##SizePtr() { return &m_##member##Size; }                  \
  T* CKvLinkProjectInfo::Alloc##Name(DWORD size) {                                               \
    return AllocField(&m_flags, bit, &m_##member, &m_##member##Size, size);                      \
  }                                                                                              \
  void CKvLinkProjectInfo::Set##Name##ToBuffer(T* buffer, DWORD size) {                          \
    if (m_##member) ReleaseField(&m_flags, bit, &m_##member, &m_##member##Size);                 \
    m_flags &= ~(bit);                                                                           \
    m_##member = buffer;                                                                         \
    m_##member##Size = size;                                                                     \
  }

KVLINK_FIELD_OPS(ProjectPath, projectPath, WCHAR, KVLINK_PROJECTPATH)
KVLINK_FIELD_OPS(CommandLine, commandLine, WCHAR, KVLINK_COMMANDLINE)
KVLINK_FIELD_OPS(TemplateName, templateName, WCHAR, KVLINK_TEMPLATENAME)
KVLINK_FIELD_OPS(TemplateData, templateData, void, KVLINK_TEMPLATEDATA)
KVLINK_FIELD_OPS(AppTemplateData, appTemplateData, void, KVLINK_APPTEMPLATEDATA)
KVLINK_FIELD_OPS(CreatorAppInfo, creatorAppInfo, WCHAR, KVLINK_CREATORAPPINFO)
KVLINK_FIELD_OPS(CreatorAppWindowClassName, creatorAppWindowClassName, WCHAR, KVLINK_CREATORAPPWINDOWCLASSNAME)
KVLINK_FIELD_OPS(ProjectData, projectData, void, KVLINK_PROJECTDATA)
#undef KVLINK_FIELD_OPS

WCHAR* CKvLinkProjectInfo::GetProjectPath() { return m_projectPath; }
WCHAR* CKvLinkProjectInfo::GetCommandLineW() { return m_commandLine; }
WCHAR* CKvLinkProjectInfo::GetTemplateName() { return m_templateName; }
WCHAR* CKvLinkProjectInfo::GetCreatorAppInfo() { return m_creatorAppInfo; }
WCHAR* CKvLinkProjectInfo::GetCreatorAppWindowClassName() { return m_creatorAppWindowClassName; }
void* CKvLinkProjectInfo::GetTemplateData() { return m_templateData; }
void* CKvLinkProjectInfo::GetAppTemplateData() { return m_appTemplateData; }
void* CKvLinkProjectInfo::GetProjectData() { return m_projectData; }
GUID* CKvLinkProjectInfo::GetRendererGuid() { return &m_rendererGuid; }
DWORD CKvLinkProjectInfo::GetVersion() { return m_version; }

HRESULT CKvLinkProjectInfo::_AllocSetString(const WCHAR* text, WCHAR** field, DWORD* size, DWORD bit) {
  if (!text) return E_INVALIDARG;
  size_t len = kvwide::Length(text);
  if (len >= 0x7FFFFFFEu) return E_OUTOFMEMORY;
  DWORD bytes = static_cast<DWORD>((len + 1) * sizeof(WCHAR));
  WCHAR* p = static_cast<WCHAR*>(kvblock::Alloc(bytes));
  if (!p) return E_OUTOFMEMORY;
  memcpy(p, text, bytes);
  // The new text replaces the old one, whose block is freed (the text may
  // be the field's own, so only after the copy).
  kvblock::Free(*field);
  *field = p;
  *size = bytes;
  m_flags |= bit;
  return S_OK;
}

HRESULT CKvLinkProjectInfo::_AllocSetStringW(const WCHAR* text, WCHAR** field, DWORD* size, DWORD bit) {
  return _AllocSetString(text, field, size, bit);
}

HRESULT CKvLinkProjectInfo::SetProjectPath(const WCHAR* text) {
  return _AllocSetString(text, &m_projectPath, &m_projectPathSize, KVLINK_PROJECTPATH);
}
HRESULT CKvLinkProjectInfo::SetCommandLine(const WCHAR* text) {
  return _AllocSetString(text, &m_commandLine, &m_commandLineSize, KVLINK_COMMANDLINE);
}
HRESULT CKvLinkProjectInfo::SetTemplateName(const WCHAR* text) {
  return _AllocSetStringW(text, &m_templateName, &m_templateNameSize, KVLINK_TEMPLATENAME);
}
HRESULT CKvLinkProjectInfo::SetCreatorAppInfo(const WCHAR* text) {
  return _AllocSetString(text, &m_creatorAppInfo, &m_creatorAppInfoSize, KVLINK_CREATORAPPINFO);
}
HRESULT CKvLinkProjectInfo::SetCreatorAppWindowClassName(const WCHAR* text) {
  return _AllocSetString(text, &m_creatorAppWindowClassName, &m_creatorAppWindowClassNameSize,
                         KVLINK_CREATORAPPWINDOWCLASSNAME);
}

HRESULT CKvLinkProjectInfo::SetTemplateData(const void* data, DWORD size) {
  if (!data || size == 0) return E_INVALIDARG;
  void* p = kvblock::Alloc(size);
  if (!p) return E_OUTOFMEMORY;
  memcpy(p, data, size);
  // The copy replaces the old data, whose block is freed (the data may be
  // the field's own, so only after the copy); a failed copy keeps the old.
  kvblock::Free(m_templateData);
  m_templateData = p;
  m_templateDataSize = size;
  m_flags |= KVLINK_TEMPLATEDATA;
  return S_OK;
}

HRESULT CKvLinkProjectInfo::SetAppTemplateData(const void* data, DWORD size) {
  if (!data || size == 0) return E_INVALIDARG;
  void* p = kvblock::Alloc(size);
  if (!p) return E_OUTOFMEMORY;
  memcpy(p, data, size);
  // The copy replaces the old data, whose block is freed (the data may be
  // the field's own, so only after the copy); a failed copy keeps the old.
  kvblock::Free(m_appTemplateData);
  m_appTemplateData = p;
  m_appTemplateDataSize = size;
  m_flags |= KVLINK_APPTEMPLATEDATA;
  return S_OK;
}

HRESULT CKvLinkProjectInfo::SetRendererGuid(GUID guid) {
  m_rendererGuid = guid;
  m_flags |= KVLINK_RENDERERGUID;
  return S_OK;
}

HRESULT CKvLinkProjectInfo::SetVersion(DWORD version) {
  m_version = version;
  return S_OK;
}

HRESULT CKvLinkProjectInfo::SetProjectData(DWORD id, const void* data, DWORD size) {
  if (!data || size == 0) return E_INVALIDARG;
  DWORD padded = size + (size & 1);
  if (padded < size || padded >= 0xFFFFFFEBu) return E_UNEXPECTED;
  if (!m_projectData || m_projectDataSize == 0) {
    BYTE* empty = static_cast<BYTE*>(AllocProjectData(12));
    if (!empty) return E_OUTOFMEMORY;
    PutLE32(empty, kList);
    PutLE32(empty + 4, 4);
    PutLE32(empty + 8, kSpel);
  }
  // A list that does not start with "LIST" / "spel", or whose size does not
  // fit its buffer, is not a project-data list.
  BYTE* list = static_cast<BYTE*>(m_projectData);
  DWORD listSize = m_projectDataSize >= 12 ? GetLE32(list + 4) : 0;
  if (m_projectDataSize < 12 || GetLE32(list) != kList || GetLE32(list + 8) != kSpel || listSize < 4 ||
      listSize > m_projectDataSize - 8) {
    _FreeProjectData();
    return KV_E_NOTFOUND;
  }
  BYTE* item = nullptr;
  DWORD itemSize = 0;
  HRESULT hr = FindItem(list, 8 + listSize, id, &item, &itemSize);
  if (SUCCEEDED(hr)) return KV_E_DUPLICATE;
  DWORD end = 8 + listSize;
  if (static_cast<uint64_t>(end) + 8 + padded > 0xFFFFFFF0u) return E_UNEXPECTED;
  DWORD newSize = end + 8 + padded;
  // A failed grow keeps the list as it was: the items already in it stay.
  BYTE* grown = static_cast<BYTE*>(kvblock::Resize(m_projectData, newSize));
  if (!grown) return E_OUTOFMEMORY;
  m_projectData = grown;
  m_projectDataSize = newSize;
  PutLE32(grown + end, id);
  PutLE32(grown + end + 4, size);
  memcpy(grown + end + 8, data, size);
  if (size & 1) grown[end + 8 + size] = 0;
  PutLE32(grown + 4, listSize + 8 + padded);
  m_flags |= KVLINK_PROJECTDATA;
  return S_OK;
}

int CKvLinkProjectInfo::GetProjectPath(WCHAR* buf, int cch) {
  return CopyTextOut(m_flags, KVLINK_PROJECTPATH, m_projectPath, m_projectPathSize, buf, cch);
}
int CKvLinkProjectInfo::GetCommandLineW(WCHAR* buf, int cch) {
  return CopyTextOut(m_flags, KVLINK_COMMANDLINE, m_commandLine, m_commandLineSize, buf, cch);
}
int CKvLinkProjectInfo::GetTemplateName(WCHAR* buf, int cch) {
  return CopyTextOut(m_flags, KVLINK_TEMPLATENAME, m_templateName, m_templateNameSize, buf, cch);
}
int CKvLinkProjectInfo::GetCreatorAppInfo(WCHAR* buf, int cch) {
  return CopyTextOut(m_flags, KVLINK_CREATORAPPINFO, m_creatorAppInfo, m_creatorAppInfoSize, buf, cch);
}
int CKvLinkProjectInfo::GetCreatorAppWindowClassName(WCHAR* buf, int cch) {
  return CopyTextOut(m_flags, KVLINK_CREATORAPPWINDOWCLASSNAME, m_creatorAppWindowClassName,
                     m_creatorAppWindowClassNameSize, buf, cch);
}

HRESULT CKvLinkProjectInfo::GetProjectData(DWORD id, void* buf, DWORD* size) {
  if (!size) return E_INVALIDARG;
  if (!m_projectData || m_projectDataSize == 0) {
    *size = 0;
    return KV_E_NOTFOUND;
  }
  BYTE* item = nullptr;
  DWORD itemSize = 0;
  HRESULT hr = FindItem(m_projectData, m_projectDataSize, id, &item, &itemSize);
  if (FAILED(hr)) return hr;
  if (!buf) {
    *size = itemSize;
    return S_OK;
  }
  if (*size < itemSize) return E_OUTOFMEMORY;
  memcpy(buf, item, itemSize);
  return S_OK;
}

HRESULT CKvLinkProjectInfo::WriteProjectPathToStream(IStream* stream) {
  if (!(m_flags & KVLINK_PROJECTPATH)) return S_FALSE;
  return WriteField(stream, m_projectPath, m_projectPathSize);
}
HRESULT CKvLinkProjectInfo::WriteCommandLineToStream(IStream* stream) {
  if (!(m_flags & KVLINK_COMMANDLINE)) return S_FALSE;
  return WriteField(stream, m_commandLine, m_commandLineSize);
}
HRESULT CKvLinkProjectInfo::WriteRendererGuidToStream(IStream* stream) {
  if (!(m_flags & KVLINK_RENDERERGUID)) return S_FALSE;
  return WriteField(stream, &m_rendererGuid, sizeof(GUID));
}
HRESULT CKvLinkProjectInfo::WriteTemplateNameToStream(IStream* stream) {
  if (!(m_flags & KVLINK_TEMPLATENAME)) return S_FALSE;
  return WriteField(stream, m_templateName, m_templateNameSize);
}
HRESULT CKvLinkProjectInfo::WriteTemplateDataToStream(IStream* stream) {
  if (!(m_flags & KVLINK_TEMPLATEDATA) || !m_templateData) return S_FALSE;
  return WriteField(stream, m_templateData, m_templateDataSize);
}
HRESULT CKvLinkProjectInfo::WriteAppTemplateDataToStream(IStream* stream) {
  if (!(m_flags & KVLINK_APPTEMPLATEDATA) || !m_appTemplateData) return S_FALSE;
  return WriteField(stream, m_appTemplateData, m_appTemplateDataSize);
}
HRESULT CKvLinkProjectInfo::WriteCreatorAppInfoToStream(IStream* stream) {
  if (!(m_flags & KVLINK_CREATORAPPINFO)) return S_FALSE;
  return WriteField(stream, m_creatorAppInfo, m_creatorAppInfoSize);
}
HRESULT CKvLinkProjectInfo::WriteCreatorAppWindowClassNameToStream(IStream* stream) {
  if (!(m_flags & KVLINK_CREATORAPPWINDOWCLASSNAME)) return S_FALSE;
  return WriteField(stream, m_creatorAppWindowClassName, m_creatorAppWindowClassNameSize);
}
HRESULT CKvLinkProjectInfo::WriteProjectDataToStream(IStream* stream) {
  if (!(m_flags & KVLINK_PROJECTDATA) || !m_projectData) return S_FALSE;
  return WriteField(stream, m_projectData, m_projectDataSize);
}
HRESULT CKvLinkProjectInfo::WriteVersionToStream(IStream* stream) { return WriteField(stream, &m_version, 4); }

HRESULT CKvLinkProjectInfo::ValidateProjectLink() {
  if (!(m_flags & KVLINK_PROJECTPATH) || !(m_flags & KVLINK_COMMANDLINE)) return KV_E_INVALIDLINK;
  if (!m_projectPath || !m_projectPathSize || !m_commandLine || !m_commandLineSize) return KV_E_INVALIDLINK;
  struct {
    DWORD bit;
    const void* ptr;
    DWORD size;
  } const fields[] = {
      {KVLINK_TEMPLATENAME, m_templateName, m_templateNameSize},
      {KVLINK_TEMPLATEDATA, m_templateData, m_templateDataSize},
      {KVLINK_APPTEMPLATEDATA, m_appTemplateData, m_appTemplateDataSize},
      {KVLINK_CREATORAPPINFO, m_creatorAppInfo, m_creatorAppInfoSize},
      {KVLINK_CREATORAPPWINDOWCLASSNAME, m_creatorAppWindowClassName, m_creatorAppWindowClassNameSize},
      {KVLINK_PROJECTDATA, m_projectData, m_projectDataSize},
  };
  for (const auto& f : fields)
    if ((m_flags & f.bit) && (!f.ptr || !f.size)) return KV_E_INVALIDLINK;
  HRESULT hr = S_OK;
  if (!(m_flags & KVLINK_TEMPLATENAME) && (m_templateName || m_templateNameSize)) hr = S_FALSE;
  if (!(m_flags & KVLINK_PROJECTDATA) && (m_projectData || m_projectDataSize)) hr = S_FALSE;
  return hr;
}

HRESULT CKvLinkProjectInfo::ValidateProjectData() {
  return (m_flags & KVLINK_PROJECTDATA) && m_projectData && m_projectDataSize ? S_OK : KV_E_INVALIDLINK;
}

HRESULT CKvLinkProjectInfo::Validate() {
  HRESULT hr = ValidateProjectLink();
  return SUCCEEDED(hr) ? hr : ValidateProjectData();
}
