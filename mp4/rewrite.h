// Rewrites a file from its box tree: in place when the size pass allows it,
// otherwise into a new file with the old one moved to a backup name and its
// contents copied over. Every write is checked; on failure the original is put
// back (in place: the overwritten bytes are restored) and the call fails.
#pragma once

#include <string>

#include "boxes.h"
#include "kvportable.h"

namespace fileutil {

// Bytes an in-place rewrite may keep in memory to undo itself; beyond that
// the rewrite goes through a copy.
const uint64_t kMaxInPlaceUndoBytes = 64u << 20;

struct RewriteResult {
  bool inPlace = false;
  std::wstring backupPath;  // the backup name used by a copy
};

// The backup name for a copy: "<path>.bak", or "<path>.bak1", "<path>.bak2"...
// when a file of that name exists (it is never touched). Empty when none is free.
std::wstring ChooseBackupPath(const std::wstring& path);

// S_OK, or E_FAIL with the file as it was (the tree then no longer describes
// it: its chunk offsets may have been moved). A tree that does not hold all of
// the file's bytes (see PrepareWrite::CanWrite) is refused before anything is
// written. `forceCopy` takes the copy path.
HRESULT RewriteBoxFile(const wchar_t* path, BoxList& boxes, bool forceCopy = false, RewriteResult* result = nullptr);

}  // namespace fileutil
