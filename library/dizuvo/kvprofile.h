// One section of a private-profile (.ini) file: the plug-in cache and the
// metrics file are read and written through it. Sub-sections are sections
// named "<section>.<sub-section>".
#pragma once

#include <windows.h>

// The operations of a profile section, for code that may be given another
// store.
class CKvProfileLike {
 public:
  virtual ~CKvProfileLike() = default;
  // The value of `key` into `buffer` (cch characters, terminated); `def` (or
  // "") when missing. The number of characters copied.
  virtual DWORD GetString(const wchar_t* key, const wchar_t* def, wchar_t* buffer, DWORD cch) = 0;
  // The value of `key` as an integer; `def` when missing.
  virtual int GetInt(const wchar_t* key, int def) = 0;
  // With a key: its value; with a null key: the section's key names. Each
  // entry that reads as a GUID in registry form goes into `ids` (at most
  // `max`); entries that are not GUIDs are skipped. The number stored.
  virtual int GetGUID(const wchar_t* key, GUID* ids, int max) = 0;
  virtual HRESULT WriteString(const wchar_t* key, const wchar_t* value) = 0;
  // The value as decimal text.
  virtual HRESULT WriteInt(const wchar_t* key, int value) = 0;
  // With a key: the GUID's registry form as its value. With a null key:
  // `text` as the value of the key named by the GUID's registry form.
  virtual HRESULT WriteGUID(const wchar_t* key, const GUID& id, const wchar_t* text) = 0;
  // Replaces the section with an empty one.
  virtual HRESULT ClearSection() = 0;
  // Deletes the file; S_FALSE when it did not exist.
  virtual HRESULT RemoveFile() = 0;
  virtual BOOL FileExists() = 0;
};

class CKvProfile : public CKvProfileLike {
 public:
  // The file `fileName` (".ini" added when it has no such extension) in
  // `folder`; section "main".
  CKvProfile(const wchar_t* folder, const wchar_t* fileName);
  // The same file as `parent`; section "<parent's section>.<subSection>".
  CKvProfile(const CKvProfile& parent, const wchar_t* subSection);

  DWORD GetString(const wchar_t* key, const wchar_t* def, wchar_t* buffer, DWORD cch) override;
  int GetInt(const wchar_t* key, int def) override;
  int GetGUID(const wchar_t* key, GUID* ids, int max) override;
  HRESULT WriteString(const wchar_t* key, const wchar_t* value) override;
  HRESULT WriteInt(const wchar_t* key, int value) override;
  HRESULT WriteGUID(const wchar_t* key, const GUID& id, const wchar_t* text) override;
  HRESULT ClearSection() override;
  HRESULT RemoveFile() override;
  BOOL FileExists() override;

  const wchar_t* Path() const { return path_; }
  const wchar_t* Section() const { return section_; }
  // Names another section of the same file (at most 129 characters).
  void SetSection(const wchar_t* section);

 private:
  wchar_t path_[260];
  wchar_t section_[130];
};
