// The rewrite of a file from its box tree.
#include "rewrite.h"

#include <vector>

#include "boxwriter.h"
#include "filestream.h"
#include "preparewrite.h"

namespace fileutil {

std::wstring ChooseBackupPath(const std::wstring& path) {
  std::wstring backup = path + L".bak";
  for (int n = 1; FileExists(backup.c_str()); ++n) {
    if (n > 999) return std::wstring();
    backup = path + L".bak" + std::to_wstring(n);
  }
  return backup;
}

namespace {

struct Segment {
  uint64_t offset;
  std::vector<char> bytes;
};

// The top-level media data contents, which an in-place write never touches.
std::vector<std::pair<uint64_t, uint64_t>> MediaContents(BoxList& boxes) {
  class Finder : public BoxVisitor {
   public:
    uint32_t Visit(MediaDataBox& box) override {
      uint64_t header = box.GetHeaderSize() == 16 ? 16 : 8;
      ranges.push_back({box.GetOffset() + header, box.GetOffset() + box.GetSize()});
      return 0;
    }
    using BoxVisitor::Visit;
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
  } finder;
  for (IBox* box : boxes) box->Accept(finder);
  return finder.ranges;
}

// Saves every byte outside the media data so that a failed in-place write can
// be undone. False when that would take too much memory or cannot be read.
bool SaveForUndo(fstream& io, uint64_t fileSize, BoxList& boxes, std::vector<Segment>& saved) {
  std::vector<std::pair<uint64_t, uint64_t>> skip = MediaContents(boxes);
  uint64_t total = 0, at = 0;
  std::vector<std::pair<uint64_t, uint64_t>> keep;
  for (auto& r : skip) {
    if (r.first > at) keep.push_back({at, r.first < fileSize ? r.first : fileSize});
    if (r.second > at) at = r.second;
  }
  if (at < fileSize) keep.push_back({at, fileSize});
  for (auto& r : keep)
    if (r.second > r.first) total += r.second - r.first;
  if (total > kMaxInPlaceUndoBytes) return false;
  for (auto& r : keep) {
    if (r.second <= r.first) continue;
    Segment s;
    s.offset = r.first;
    s.bytes.resize(size_t(r.second - r.first));
    io.clear();
    io.seekg(std::streamoff(r.first));
    io.read(s.bytes.data(), std::streamsize(s.bytes.size()));
    if (uint64_t(io.gcount()) != s.bytes.size()) return false;
    saved.push_back(std::move(s));
  }
  io.clear();
  io.seekp(0);
  return bool(io);
}

HRESULT InPlace(const wchar_t* path, BoxList& boxes, uint64_t shift, bool& tooLarge) {
  tooLarge = false;
  fstream io(path, 65536, kGenericRead | kGenericWrite, 0, nullptr, kOpenExisting, kFlagsNormal, nullptr);
  if (!io.is_open()) return E_FAIL;
  io.seekg(0, std::ios_base::end);
  std::streamoff end = std::streamoff(io.tellg());
  if (end < 0) return E_FAIL;
  uint64_t oldSize = uint64_t(end);
  std::vector<Segment> saved;
  if (!SaveForUndo(io, oldSize, boxes, saved)) {
    tooLarge = true;
    return E_FAIL;
  }
  BoxWriter writer(io, boxes, shift);
  uint64_t written = writer.Write();
  bool ok = writer.Succeeded() && bool(io);
  // The old bytes past a shorter tree do not stay behind as a damaged box.
  if (ok && written < oldSize) ok = io.GetBuffer()->Truncate(written);
  if (ok && io.close()) return S_OK;
  if (!io.is_open()) {
    io.open(path, 65536, kGenericRead | kGenericWrite, 0, nullptr, kOpenExisting, kFlagsNormal, nullptr);
  }
  // Undo: the saved bytes go back to where they were (they fit: the file is at
  // least as long as before), and the file gets its old length.
  io.clear();
  for (const Segment& s : saved) {
    io.seekp(std::streamoff(s.offset));
    io.write(s.bytes.data(), std::streamsize(s.bytes.size()));
  }
  io.flush();
  if (io.GetBuffer()) io.GetBuffer()->Truncate(oldSize);
  io.close();
  return E_FAIL;
}

HRESULT ThroughCopy(const wchar_t* path, BoxList& boxes, uint64_t shift, RewriteResult* result) {
  std::wstring backup = ChooseBackupPath(path);
  if (backup.empty()) return E_FAIL;
  if (!FileMove(path, backup.c_str())) return E_FAIL;
  if (result) result->backupPath = backup;
  bool ok = false;
  {
    ifstream source(backup.c_str(), 65536, kGenericRead, kFileShareRead, nullptr, kOpenExisting, kFlagsSequentialScan,
                    nullptr);
    ofstream output(path, 65536, kGenericWrite, 0, nullptr, kCreateNew, kFlagsNormal, nullptr);
    bool created = output.is_open();
    if (source.is_open() && created) {
      BoxCopy copy(output, source, boxes, shift);
      copy.Write();
      ok = copy.Succeeded() && bool(output);
    }
    if (!output.close()) ok = false;
    source.close();
    if (!ok && created) FileDelete(path);
  }
  if (!ok) {
    // The original goes back under its name; if even that fails it stays
    // under the backup name, never deleted.
    FileMove(backup.c_str(), path);
    return E_FAIL;
  }
  // Only now that the new file is complete is the backup given up.
  FileDelete(backup.c_str());
  return S_OK;
}

}  // namespace

HRESULT RewriteBoxFile(const wchar_t* path, BoxList& boxes, bool forceCopy, RewriteResult* result) {
  if (!path) return E_INVALIDARG;
  PrepareWrite sizes(boxes);
  if (forceCopy) {
    class Mark : public BoxVisitor {
     public:
      uint32_t Visit(MediaDataBox& box) override {
        box.copyFlag = 1;
        return 0;
      }
      using BoxVisitor::Visit;
    } mark;
    VisitBoxes(boxes, mark);
  }
  sizes.Run();
  uint64_t shift = sizes.GetMediaDataShift();
  if (result) *result = RewriteResult();
  // A tree that does not hold all of the file (a box not read whole, or bytes
  // after the last box) is not written: the rewrite would lose those bytes.
  if (!sizes.CanWrite()) return E_FAIL;
  uint64_t fileSize = 0, end = 0;
  for (IBox* box : boxes)
    if (box->GetOffset() + box->GetSize() > end) end = box->GetOffset() + box->GetSize();
  if (FileGetSize(path, fileSize) && fileSize > end) return E_FAIL;
  if (!sizes.NeedsCopy()) {
    bool tooLarge = false;
    HRESULT hr = InPlace(path, boxes, shift, tooLarge);
    if (!tooLarge) {
      if (result) result->inPlace = SUCCEEDED(hr);
      return hr;
    }
  }
  return ThroughCopy(path, boxes, shift, result);
}

}  // namespace fileutil
