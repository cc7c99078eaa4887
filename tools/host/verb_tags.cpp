// Verb "tags": opens a file through the reader and prints what its
// read-metadata object answers: the summary fields, the markers (times in
// seconds) and the project-link fields the file carries.
//
//   tags IN
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "host_meta.h"
#include "host_output.h"
#include "host_verbs.h"
#include "kvfileio.h"

namespace {

typedef HRESULT (STDMETHODCALLTYPE IKvReadProjectLinkMeta::*FieldGetter)(IStream**);

const struct {
  const char* name;
  FieldGetter get;
  bool guid;
} kLinkFields[] = {
    {"project path", &IKvReadProjectLinkMeta::GetProjectPath, false},
    {"command line", &IKvReadProjectLinkMeta::GetCommandLine, false},
    {"renderer", &IKvReadProjectLinkMeta::GetRendererGuid, true},
    {"template name", &IKvReadProjectLinkMeta::GetTemplateName, false},
    {"template data", &IKvReadProjectLinkMeta::GetTemplateData, false},
    {"application template data", &IKvReadProjectLinkMeta::GetAppTemplateData, false},
    {"project data", &IKvReadProjectLinkMeta::GetProjectData, false},
    {"creator application", &IKvReadProjectLinkMeta::GetCreatorAppInfo, false},
    {"creator window class", &IKvReadProjectLinkMeta::GetCreatorAppWindowClassName, false},
};

// A field's bytes: a GUID field as its GUID, else the text they hold (UTF-16
// of printable characters, an even size), else their size and first bytes in
// hexadecimal.
std::string DescribeField(const std::vector<BYTE>& bytes, bool guid) {
  if (guid && bytes.size() == 16) {
    GUID id;
    std::memcpy(&id, bytes.data(), 16);
    return FormatGuid(id);
  }
  std::wstring text;
  bool isText = bytes.size() % 2 == 0 && !bytes.empty();
  for (size_t i = 0; isText && i + 1 < bytes.size(); i += 2) {
    const wchar_t c = wchar_t(bytes[i] | bytes[i + 1] << 8);
    if (c == 0 && i + 2 == bytes.size()) break;
    if (c < 0x20 && c != L'\t') isText = false;
    text.push_back(c);
  }
  if (isText) return "\"" + ToUtf8(text) + "\"";
  std::string out = std::to_string(bytes.size()) + " bytes";
  char hex[4];
  for (size_t i = 0; i < bytes.size() && i < 16; ++i) {
    std::snprintf(hex, sizeof hex, " %02x", bytes[i]);
    out += hex;
  }
  return out + (bytes.size() > 16 ? " ..." : "");
}

int PrintSummary(IKvReadMeta* meta) {
  IStream* stream = nullptr;
  HRESULT hr = meta->GetSummaryStream(&stream);
  if (hr == HRESULT(0x8004E00Au) || (SUCCEEDED(hr) && !stream)) {
    std::printf("summary: none\n");
    return 0;
  }
  std::vector<BYTE> bytes;
  SummaryFields fields;
  const bool ok = SUCCEEDED(hr) && ReadWholeStream(stream, bytes) && ParseSummaryStream(bytes, fields);
  if (stream) stream->Release();
  if (!ok) {
    std::fprintf(stderr, "host: tags: the summary stream could not be read (%s)\n", FormatResult(hr).c_str());
    return 1;
  }
  std::printf("summary: %u fields\n", unsigned(fields.size()));
  for (const auto& f : fields) std::printf("  %s: %s\n", SummaryKeyName(f.first).c_str(), ToUtf8(f.second).c_str());
  return 0;
}

int PrintMarkers(IKvReadMeta* meta) {
  IStream* stream = nullptr;
  HRESULT hr = meta->GetMarkers(&stream);
  if (hr == HRESULT(0x8004E00Au) || (SUCCEEDED(hr) && !stream)) {
    std::printf("markers: none\n");
    return 0;
  }
  std::vector<BYTE> bytes;
  std::vector<LegacyMarker> markers;
  const bool ok = SUCCEEDED(hr) && ReadWholeStream(stream, bytes) && ParseLegacyMarkers(bytes, markers);
  if (stream) stream->Release();
  if (!ok) {
    std::fprintf(stderr, "host: tags: the marker stream could not be read (%s)\n", FormatResult(hr).c_str());
    return 1;
  }
  std::printf("markers: %u\n", unsigned(markers.size()));
  for (const LegacyMarker& m : markers) {
    std::printf("  at %.3f s", double(m.position) / 1e7);
    if (m.hasLength) std::printf(", %.3f s long", double(m.length) / 1e7);
    std::printf(": %s\n", ToUtf8(m.name).c_str());
  }
  return 0;
}

void PrintProjectLink(IKvReadMeta* meta) {
  IKvReadProjectLinkMeta* link = nullptr;
  if (FAILED(meta->QueryInterface(IID_IKvReadProjectLinkMeta, reinterpret_cast<void**>(&link))) || !link) {
    std::printf("project link: none\n");
    return;
  }
  std::vector<std::string> lines;
  for (const auto& field : kLinkFields) {
    IStream* stream = nullptr;
    std::vector<BYTE> bytes;
    if ((link->*field.get)(&stream) == S_OK && stream && ReadWholeStream(stream, bytes) && !bytes.empty())
      lines.push_back(std::string(field.name) + ": " + DescribeField(bytes, field.guid));
    if (stream) stream->Release();
  }
  link->Release();
  if (lines.empty()) {
    std::printf("project link: none\n");
    return;
  }
  std::printf("project link: %u fields\n", unsigned(lines.size()));
  for (const std::string& line : lines) std::printf("  %s\n", line.c_str());
}

}  // namespace

int RunTagsVerb(PluginModule& plugin, int argc, wchar_t** argv) {
  if (argc != 1 || argv[0][0] == L'-') {
    std::fprintf(stderr, "usage: host tags IN\n");
    return 2;
  }
  // The reader opens a missing file without complaint (its metadata is then
  // empty): the host tells the user instead.
  if (GetFileAttributesW(argv[0]) == INVALID_FILE_ATTRIBUTES) {
    std::fprintf(stderr, "host: tags: %s: no such file\n", ToUtf8(argv[0]).c_str());
    return 1;
  }
  IKvReadFileClass* cls = nullptr;
  HRESULT hr = plugin.Create(CLSID_NULL, IID_IKvReadFileClass, reinterpret_cast<void**>(&cls));
  if (FAILED(hr) || !cls) {
    std::fprintf(stderr, "host: creating the reader class failed: %s\n", FormatResult(hr).c_str());
    return 1;
  }
  IKvReadFile* file = nullptr;
  hr = cls->OpenReadFile(&file, INVALID_HANDLE_VALUE, GetCurrentProcessId(), argv[0], TRUE);
  if (FAILED(hr) || !file) {
    std::fprintf(stderr, "host: OpenReadFile: %s\n", FormatResult(hr).c_str());
    cls->Release();
    return 1;
  }
  IKvReadMeta* meta = nullptr;
  hr = file->GetReadMeta(&meta);
  int status = 0;
  if (FAILED(hr) || !meta) {
    std::fprintf(stderr, "host: GetReadMeta: %s\n", FormatResult(hr).c_str());
    status = 1;
  } else {
    status = PrintSummary(meta);
    if (PrintMarkers(meta)) status = 1;
    PrintProjectLink(meta);
    meta->Release();
  }
  file->Release();
  cls->Release();
  return status;
}
