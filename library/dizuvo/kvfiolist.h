// The lists held in the plug-in cache and the profile files, as the manager
// reads them back: ";"-separated extension and pattern lists, the list of
// modules to load before a plug-in, the key names of a profile section (each
// terminated, the list ending with an empty name) and GUIDs in registry form.
// Every walk stays inside the text it is given, whatever the file held.
// Texts are 16-bit units (WCHAR) on both builds, so the list parsing builds
// natively as well, for the fuzz target and the sanitizers.
#pragma once

#include <stddef.h>

#include "kvportable.h"

namespace kvfiolist {

// How a token's blanks are treated.
enum Blanks {
  kKeepBlanks,      // the token as it stands
  kLeadingSpaces,   // spaces before the token dropped
  kSpacesAndTabs,   // spaces and tabs dropped on both sides
};

// The ";"-separated tokens of a list text, in order, empty ones (after the
// blanks are dropped) skipped. A null text has none.
class Tokens {
 public:
  Tokens(const WCHAR* text, Blanks blanks) : p_(text), blanks_(blanks) {}
  // The next token: its start and length (at least 1); false at the end.
  bool Next(const WCHAR** start, int* length);

 private:
  const WCHAR* p_;
  Blanks blanks_;
};

// The number of non-empty tokens, and the one at index (kept as they stand).
DWORD CountTokens(const WCHAR* text);
bool TokenAt(const WCHAR* text, DWORD index, const WCHAR** start, int* length);

// True when the extension list holds ext (upper case, without a dot):
// tokens are compared in upper case, with their spaces and a leading "*."
// dropped; tokens of 260 characters or more are skipped.
bool HoldsExtension(const WCHAR* list, const WCHAR* upperExt);

// The list with blanks (spaces and tabs) around every token dropped and the
// empty tokens left out, joined by ";" into out (cch units, at least 1);
// what does not fit is cut. Returns the length written.
int Normalise(const WCHAR* text, WCHAR* out, int cch);

// The next key name of a section's key-name list of cch units: each name
// terminated, an empty name ending the list. A name whose terminator is not
// inside the list ends it too. *cursor starts at the list and moves past the
// name given.
bool NextKeyName(const WCHAR* names, size_t cch, size_t* cursor, const WCHAR** name, size_t* length);

// The extension a file-dialog pattern token stands for, into out (cch
// units, terminated): the token without a leading "*". False for tokens
// that name no one extension ("*.*" or "?" in them), that are empty without
// the "*", or whose extension does not fit out.
bool PatternExtension(const WCHAR* token, int length, WCHAR* out, int cch);

// A GUID in registry form, "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" and
// nothing after it; false (out untouched) for anything else.
bool ParseGuid(const WCHAR* text, GUID* out);

// Upper case in place (the system's case mapping on Windows; natively the
// Latin-1 letters).
void ToUpper(WCHAR* text, int length);

}  // namespace kvfiolist
