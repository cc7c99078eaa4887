// Dialog templates built from description records, and read back into them.
#include "kvdlgtemplate.h"

#include <cstring>
#include <vector>

#include "kvres.h"
#include "kvuifont.h"

namespace {

const wchar_t kDefaultFace[] = L"MS Shell Dlg";
const WORD kDefaultPoints = 8;

// Resolves a string field: an id through the language handle, a pointer as
// it is; null for 0 or an id that resolves to nothing.
const wchar_t* Text(HKVLANG lang, const wchar_t* field) {
  if (!field) return nullptr;
  if (IS_INTRESOURCE(field)) return KvGetString(lang, static_cast<UINT>(reinterpret_cast<UINT_PTR>(field)));
  return field;
}

bool IsOrdinal(const void* field) { return IS_INTRESOURCE(field); }
WORD Ordinal(const void* field) { return static_cast<WORD>(reinterpret_cast<UINT_PTR>(field)); }

// Builds a template in memory, then hands it out in a global block.
class Writer {
 public:
  void Word(WORD w) { Bytes(&w, 2); }
  void Dword(DWORD d) { Bytes(&d, 4); }
  void Short(short s) { Bytes(&s, 2); }
  void Byte(BYTE b) { Bytes(&b, 1); }
  void Bytes(const void* p, size_t n) {
    const BYTE* b = static_cast<const BYTE*>(p);
    out_.insert(out_.end(), b, b + n);
  }
  void String(const wchar_t* s) {
    if (s)
      for (; *s; ++s) Word(static_cast<WORD>(*s));
    Word(0);
  }
  // A menu, class or control-class field: 0 (none), an ordinal, or a name.
  void NameOrOrdinal(const wchar_t* field) {
    if (!field) {
      Word(0);
    } else if (IsOrdinal(field)) {
      Word(0xFFFF);
      Word(Ordinal(field));
    } else {
      String(field);
    }
  }
  void Align4() {
    while (out_.size() % 4) out_.push_back(0);
  }
  size_t Size() const { return out_.size(); }

  const DLGTEMPLATE* Publish() const {
    HGLOBAL block = GlobalAlloc(GMEM_ZEROINIT, out_.size());
    if (!block) return nullptr;
    void* p = GlobalLock(block);
    if (!p) {
      GlobalFree(block);
      return nullptr;
    }
    std::memcpy(p, out_.data(), out_.size());
    return static_cast<const DLGTEMPLATE*>(p);
  }

 private:
  std::vector<BYTE> out_;
};

int ControlCount(WORD count, const void* controls) {
  if (!controls) return 0;
  return count > KV_DLG_MAX_CONTROLS ? KV_DLG_MAX_CONTROLS : count;
}

// A reader of a template that never passes its end.
class Reader {
 public:
  Reader(const BYTE* base, size_t size) : base_(base), size_(size) {}
  bool ok() const { return ok_; }
  size_t pos() const { return pos_; }
  const BYTE* Here() const { return base_ + pos_; }
  bool Need(size_t n) {
    if (!ok_ || size_ - pos_ < n) ok_ = false;
    return ok_;
  }
  WORD Word() {
    WORD w = 0;
    if (Need(2)) std::memcpy(&w, base_ + pos_, 2), pos_ += 2;
    return w;
  }
  DWORD Dword() {
    DWORD d = 0;
    if (Need(4)) std::memcpy(&d, base_ + pos_, 4), pos_ += 4;
    return d;
  }
  BYTE Byte() {
    BYTE b = 0;
    if (Need(1)) b = base_[pos_++];
    return b;
  }
  // A zero-terminated string: its start and length in characters.
  const BYTE* String(size_t* length) {
    const BYTE* start = base_ + pos_;
    size_t n = 0;
    for (;;) {
      WORD c = Word();
      if (!ok_) return nullptr;
      if (!c) break;
      ++n;
    }
    *length = n;
    return start;
  }
  const BYTE* Skip(size_t n) {
    if (!Need(n)) return nullptr;
    const BYTE* p = base_ + pos_;
    pos_ += n;
    return p;
  }
  void Align4() {
    size_t pad = (4 - pos_ % 4) % 4;
    if (pad) Skip(pad < size_ - pos_ ? pad : size_ - pos_);
  }
  bool AtEnd() const { return pos_ >= size_; }

 private:
  const BYTE* base_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

// A string, ordinal or nothing read from a template.
struct Field {
  bool ordinal = false;
  WORD value = 0;
  const BYTE* text = nullptr;  // UTF-16 in the template (unaligned)
  size_t length = 0;
  bool present() const { return ordinal || text; }
};

Field ReadNameOrOrdinal(Reader& r) {
  Field f;
  const BYTE* start = r.Here();
  WORD first = r.Word();
  if (!r.ok() || first == 0) return f;
  if (first == 0xFFFF) {
    f.ordinal = true;
    f.value = r.Word();
    return f;
  }
  size_t rest = 0;
  if (!r.String(&rest)) return f;
  f.text = start;
  f.length = rest + 1;
  return f;
}

Field ReadString(Reader& r) {
  Field f;
  f.text = r.String(&f.length);
  return f;
}

struct MappedControl {
  DWORD helpId = 0, exStyle = 0, style = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  WORD id = 0;
  Field cls, text;
  const BYTE* data = nullptr;
  size_t dataSize = 0;
};

struct MappedDialog {
  bool extended = false;
  DWORD helpId = 0, exStyle = 0, style = 0;
  WORD count = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  Field menu, cls, title, face;
  WORD points = 0, weight = 400;
  BYTE italic = 0, charset = 1;
  std::vector<MappedControl> controls;
};

bool FaceIs(const Field& f, const wchar_t* name) {
  size_t n = wcslen(name);
  if (!f.text || f.length != n) return false;
  for (size_t i = 0; i < n; ++i) {
    WORD c;
    std::memcpy(&c, f.text + 2 * i, 2);
    if (c != static_cast<WORD>(name[i])) return false;
  }
  return true;
}

bool Parse(const BYTE* base, size_t size, MappedDialog* d) {
  Reader r(base, size);
  WORD first = r.Word();
  WORD second = r.Word();
  d->extended = second == 0xFFFF;
  if (d->extended) {
    if (first != 1) return false;
    d->helpId = r.Dword();
    d->exStyle = r.Dword();
    d->style = r.Dword();
  } else {
    d->style = first | static_cast<DWORD>(second) << 16;
    d->exStyle = r.Dword();
  }
  d->count = r.Word();
  d->x = static_cast<short>(r.Word());
  d->y = static_cast<short>(r.Word());
  d->cx = static_cast<short>(r.Word());
  d->cy = static_cast<short>(r.Word());
  d->menu = ReadNameOrOrdinal(r);
  d->cls = ReadNameOrOrdinal(r);
  d->title = ReadString(r);
  if (d->style & DS_SETFONT) {
    d->points = r.Word();
    if (d->extended) {
      d->weight = r.Word();
      d->italic = r.Byte();
      d->charset = r.Byte();
    }
    d->face = ReadString(r);
    // The old default face at its default size stands for "no face".
    if (!d->extended && d->points == 8 && FaceIs(d->face, L"MS Sans Serif")) d->face = Field();
  }
  if (!r.ok()) return false;
  for (WORD i = 0; i < d->count; ++i) {
    r.Align4();
    MappedControl c;
    if (d->extended) {
      c.helpId = r.Dword();
      c.exStyle = r.Dword();
      c.style = r.Dword();
    } else {
      c.style = r.Dword();
      c.exStyle = r.Dword();
    }
    c.x = static_cast<short>(r.Word());
    c.y = static_cast<short>(r.Word());
    c.cx = static_cast<short>(r.Word());
    c.cy = static_cast<short>(r.Word());
    c.id = d->extended ? static_cast<WORD>(r.Dword()) : r.Word();
    c.cls = ReadNameOrOrdinal(r);
    c.text = ReadNameOrOrdinal(r);
    WORD extra = r.Word();
    // A plain template's creation-data size counts its own word.
    size_t bytes = d->extended ? extra : (extra > 2 ? extra - 2u : 0u);
    if (bytes) {
      c.data = r.Skip(bytes);
      c.dataSize = bytes;
    }
    if (!r.ok()) return false;
    d->controls.push_back(c);
  }
  return true;
}

// Copies of strings and data after the records.
class Arena {
 public:
  Arena(BYTE* base, size_t used) : base_(base), used_(used) {}
  const wchar_t* Copy(const Field& f) {
    if (f.ordinal) return MAKEINTRESOURCEW(f.value);
    if (!f.text) return nullptr;
    return static_cast<const wchar_t*>(Place(f.text, f.length * 2, true));
  }
  const void* Place(const void* p, size_t n, bool terminate) {
    used_ = (used_ + 3) & ~static_cast<size_t>(3);
    BYTE* at = base_ + used_;
    std::memcpy(at, p, n);
    used_ += n;
    if (terminate) used_ += 2;  // the block is zero-filled
    return at;
  }

 private:
  BYTE* base_;
  size_t used_;
};

size_t Needed(const MappedDialog& d) {
  auto str = [](const Field& f) { return f.text ? f.length * 2 + 2 + 3 : 0; };
  size_t n = sizeof(_kvdlghdrcreateex) + d.controls.size() * sizeof(_kvdlgctrlcreateex);
  n += str(d.menu) + str(d.cls) + str(d.title) + str(d.face);
  for (const MappedControl& c : d.controls) n += str(c.cls) + str(c.text) + c.dataSize + 3;
  return n;
}

}  // namespace

extern "C" const DLGTEMPLATE* KVAPI KvCreateDialogTemplate(HKVLANG lang, const _kvdlghdrcreate* header,
                                                           const _kvdlgctrlcreate* controls) {
  if (!header) return nullptr;
  const int count = ControlCount(header->count, controls);
  Writer w;
  w.Dword(header->style);
  w.Dword(header->exStyle);
  w.Word(static_cast<WORD>(count));
  w.Short(header->x);
  w.Short(header->y);
  w.Short(header->cx);
  w.Short(header->cy);
  w.NameOrOrdinal(header->menu ? MAKEINTRESOURCEW(header->menu) : nullptr);
  w.NameOrOrdinal(header->windowClass ? MAKEINTRESOURCEW(header->windowClass) : nullptr);
  w.String(Text(lang, header->title));
  if (header->style & DS_SETFONT) {
    const wchar_t* face = Text(lang, header->face);
    w.Short(header->face ? header->pointSize : static_cast<short>(kDefaultPoints));
    w.String(header->face ? face : kDefaultFace);
  }
  for (int i = 0; i < count; ++i) {
    const _kvdlgctrlcreate& c = controls[i];
    w.Align4();
    w.Dword(c.style);
    w.Dword(c.exStyle);
    w.Short(c.x);
    w.Short(c.y);
    w.Short(c.cx);
    w.Short(c.cy);
    w.Word(c.id);
    w.NameOrOrdinal(c.className);
    w.String(Text(lang, c.text));
    w.Word(0);
  }
  return w.Publish();
}

extern "C" const DLGTEMPLATE* KVAPI KvCreateDialogTemplateEx(HKVLANG lang, const _kvdlghdrcreateex* header,
                                                             const _kvdlgctrlcreateex* controls, WORD* size) {
  if (size) *size = 0;
  if (!header) return nullptr;
  const int count = ControlCount(header->count, controls);
  Writer w;
  w.Word(1);
  w.Word(0xFFFF);
  w.Dword(header->helpId);
  w.Dword(header->exStyle);
  w.Dword(header->style);
  w.Word(static_cast<WORD>(count));
  w.Short(header->x);
  w.Short(header->y);
  w.Short(header->cx);
  w.Short(header->cy);
  w.NameOrOrdinal(header->menu);
  w.NameOrOrdinal(header->windowClass);
  w.String(Text(lang, header->title));
  if (header->style & DS_SETFONT) {
    if (header->face) {
      w.Short(header->pointSize);
      w.Word(header->weight);
      w.Byte(header->italic);
      w.Byte(header->charset);
      w.String(Text(lang, header->face));
    } else {
      w.Word(kDefaultPoints);
      w.Word(FW_NORMAL);
      w.Byte(0);
      w.Byte(DEFAULT_CHARSET);
      w.String(kDefaultFace);
    }
  }
  for (int i = 0; i < count; ++i) {
    const _kvdlgctrlcreateex& c = controls[i];
    // The creation data's length is one word.
    if (c.dataSize > 0xFFFF || (c.dataSize && !c.data)) return nullptr;
    w.Align4();
    w.Dword(c.helpId);
    w.Dword(c.exStyle);
    w.Dword(c.style);
    w.Short(c.x);
    w.Short(c.y);
    w.Short(c.cx);
    w.Short(c.cy);
    w.Dword(c.id);
    w.NameOrOrdinal(c.className);
    w.String(Text(lang, c.text));
    w.Word(static_cast<WORD>(c.dataSize));
    if (c.dataSize) w.Bytes(c.data, c.dataSize);
  }
  const DLGTEMPLATE* t = w.Publish();
  if (t && size && w.Size() <= 0xFFFF) *size = static_cast<WORD>(w.Size());
  return t;
}

extern "C" long KVAPI KvMapDialogTemplate(const DLGTEMPLATE* dialogTemplate, long size, _kvdlghdrcreateex** out) {
  if (out) *out = nullptr;
  if (!dialogTemplate || size <= 0 || !out) return 0;
  MappedDialog d;
  if (!Parse(reinterpret_cast<const BYTE*>(dialogTemplate), static_cast<size_t>(size), &d)) return 0;
  // Twice the template's size holds any well-formed template; the block is
  // never smaller than what this one needs.
  size_t bytes = static_cast<size_t>(size) * 2;
  if (Needed(d) > bytes) bytes = Needed(d);
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
  if (!block) return 0;
  BYTE* base = static_cast<BYTE*>(GlobalLock(block));
  if (!base) {
    GlobalFree(block);
    return 0;
  }
  auto* hdr = reinterpret_cast<_kvdlghdrcreateex*>(base);
  auto* ctrls = reinterpret_cast<_kvdlgctrlcreateex*>(base + sizeof(_kvdlghdrcreateex));
  Arena arena(base, sizeof(_kvdlghdrcreateex) + d.controls.size() * sizeof(_kvdlgctrlcreateex));
  hdr->title = arena.Copy(d.title);
  hdr->style = d.style;
  hdr->exStyle = d.exStyle;
  hdr->menu = arena.Copy(d.menu);
  hdr->windowClass = arena.Copy(d.cls);
  hdr->count = d.count;
  hdr->x = d.x;
  hdr->y = d.y;
  hdr->cx = d.cx;
  hdr->cy = d.cy;
  hdr->pointSize = static_cast<short>(d.points);
  hdr->face = arena.Copy(d.face);
  hdr->weight = d.weight;
  hdr->italic = d.italic;
  hdr->charset = d.charset;
  hdr->helpId = d.helpId;
  for (size_t i = 0; i < d.controls.size(); ++i) {
    const MappedControl& c = d.controls[i];
    _kvdlgctrlcreateex& r = ctrls[i];
    r.className = arena.Copy(c.cls);
    r.text = arena.Copy(c.text);
    r.id = c.id;
    r.x = c.x;
    r.y = c.y;
    r.cx = c.cx;
    r.cy = c.cy;
    r.exStyle = c.exStyle;
    r.style = c.style;
    r.helpId = c.helpId;
    r.dataSize = static_cast<DWORD>(c.dataSize);
    r.data = c.dataSize ? arena.Place(c.data, c.dataSize, false) : nullptr;
  }
  *out = hdr;
  return static_cast<long>(sizeof(_kvdlghdrcreateex) + d.controls.size() * sizeof(_kvdlgctrlcreateex));
}

extern "C" long KVAPI KvDialogTemplateFromRCID(HKVLANG lang, LPCWSTR name, const DLGTEMPLATE** out) {
  if (!out) return 0;
  *out = nullptr;
  HRSRC found = KvFindResource(lang, name, RT_DIALOG);
  if (!found) return 0;
  HGLOBAL loaded = KvLoadResource(lang, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  DWORD size = KvSizeofResource(lang, found);
  if (!data || !size) return 0;
  *out = static_cast<const DLGTEMPLATE*>(data);
  return static_cast<long>(size);
}

namespace {
BOOL SizeFromUnits(short cx, short cy, SIZE units, SIZE* size) {
  if (units.cx == 0 || units.cy == 0) {
    const SIZE* ui = KvGetUIFontSize(KV_UIFONT_DEFAULT);
    if (ui) units = *ui;
  }
  size->cx = MulDiv(cx, units.cx, 4);
  size->cy = MulDiv(cy, units.cy, 8);
  return TRUE;
}
}  // namespace

BOOL KVAPI KvGetDialogSize(HKVLANG lang, const _kvdlghdrcreate* header, SIZE* size) {
  if (!header || !size) return FALSE;
  SIZE units = {0, 0};
  if ((header->style & DS_SETFONT) && header->face)
    KvGetDialogUnitsForFont(Text(lang, header->face), header->pointSize, FW_NORMAL, DEFAULT_CHARSET, FALSE, &units);
  return SizeFromUnits(header->cx, header->cy, units, size);
}

extern "C" BOOL KVAPI KvGetDialogSizeEx(HKVLANG lang, const _kvdlghdrcreateex* header, SIZE* size) {
  if (!header || !size) return FALSE;
  SIZE units = {0, 0};
  if ((header->style & DS_SETFONT) && header->face)
    KvGetDialogUnitsForFont(Text(lang, header->face), header->pointSize, header->weight, header->charset,
                            header->italic, &units);
  return SizeFromUnits(header->cx, header->cy, units, size);
}
