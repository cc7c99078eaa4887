// The ID3v2 tag model.
#include "id3meta.h"

#include <istream>
#include <new>
#include <ostream>
#include <sstream>

#include "boxes.h"
#include "metautil.h"
#include "summaryids.h"

namespace id3meta {

using fileutil::FCC;

uint32_t EncodeSyncsafe(uint32_t s) {
  return (s & 0x7F) | ((s & 0x3F80) << 1) | ((s & 0x1FC000) << 2) | ((s & 0xFE00000) << 3);
}

uint32_t DecodeSyncsafe(uint32_t v) {
  return (v & 0xFF) | ((v >> 1) & 0x7F80) | ((v >> 2) & 0x3FC000) | ((v >> 3) & 0x1FE00000);
}

namespace {

const fileutil::Char_ISO_8859_1 kLatin1;

// Frame flags whose payload this model cannot decode: the frame is kept raw.
const uint16_t kOpaqueFlags23 = 0x00E0;  // compression, encryption, grouping
const uint16_t kOpaqueFlags24 = 0x004C;  // grouping, compression, encryption
const uint16_t kUnsyncFlag24 = 0x0002;
const uint16_t kLengthFlag24 = 0x0001;
// Tag flags of forms this model reads but never writes.
const uint8_t kTagUnsync = 0x80;
const uint8_t kTagExtended = 0x40;
const uint8_t kTagFooter = 0x10;

// Bytes left in a stream read, at most `limit`.
uint32_t ReadRest(std::istream& in, uint32_t limit, ByteVector& out) {
  out.clear();
  char block[4096];
  while (out.size() < limit) {
    size_t want = limit - out.size();
    if (want > sizeof(block)) want = sizeof(block);
    in.read(block, std::streamsize(want));
    std::streamsize got = in.gcount();
    if (got <= 0) break;
    out.insert(out.end(), block, block + got);
    if (size_t(got) < want) break;
  }
  return uint32_t(out.size());
}

// FF 00 back to FF.
ByteVector Resynchronise(const uint8_t* p, size_t n) {
  ByteVector out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    out.push_back(p[i]);
    if (p[i] == 0xFF && i + 1 < n && p[i + 1] == 0x00) ++i;
  }
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Frames

Frame::Frame() { fields_.encoding = &fileutil::GetCharEncoding(0); }

void Frame::SetEncoding(uint8_t encodingByte) {
  fields_.encodingByte = encodingByte;
  fields_.encoding = &fileutil::GetCharEncoding(encodingByte);
}

void Frame::SetOffset(uint64_t offset) {
  fields_.offset = offset;
  fields_.size = PayloadSize();
}

uint64_t Frame::Write(std::ostream& out) {
  fields_.size = PayloadSize();
  uint64_t n = fields_.header ? fields_.header->WriteFrameHeader(out, fields_) : 0;
  std::streampos before = out.tellp();
  WritePayload(out);
  std::streampos after = out.tellp();
  if (before != std::streampos(-1) && after != std::streampos(-1)) return n + uint64_t(after - before);
  return n + fields_.size;
}

void TextFrame::Accept(Visitor& v) { v.Visit(*this); }
void CommentFrame::Accept(Visitor& v) { v.Visit(*this); }
void UserTextFrame::Accept(Visitor& v) { v.Visit(*this); }
void UniqueFileIdFrame::Accept(Visitor& v) { v.Visit(*this); }
void PictureFrame::Accept(Visitor& v) { v.Visit(*this); }
void GeneralObjectFrame::Accept(Visitor& v) { v.Visit(*this); }
void UnknownFrame::Accept(Visitor& v) { v.Visit(*this); }

// Text
uint32_t TextFrame::Read(std::istream& in, uint32_t limit) {
  text.clear();
  if (limit < 2) return 0;
  SetEncoding(uint8_t(in.get()));
  return 1 + Encoding().Read(text, limit - 1, in);
}
uint32_t TextFrame::PayloadSize() const { return 1 + Encoding().GetEncodedSize(text); }
void TextFrame::WritePayload(std::ostream& out) const {
  Encoding().WriteEncodingByte(out);
  Encoding().Write(out, text);
}

// Comment
uint32_t CommentFrame::Read(std::istream& in, uint32_t limit) {
  description.clear();
  text.clear();
  if (limit < 1) return 0;
  SetEncoding(uint8_t(in.get()));
  uint32_t used = 1;
  if (limit - used < 3) return used;
  in.read(language, 3);
  used += 3;
  used += Encoding().Read(description, limit - used, in);
  used += Encoding().Read(text, limit - used, in);
  return used;
}
uint32_t CommentFrame::PayloadSize() const {
  return 4 + Encoding().GetEncodedSize(description) + Encoding().GetEncodedSize(text);
}
void CommentFrame::WritePayload(std::ostream& out) const {
  Encoding().WriteEncodingByte(out);
  out.write(language, 3);
  Encoding().Write(out, description);
  Encoding().Write(out, text);
}

// User text
uint32_t UserTextFrame::Read(std::istream& in, uint32_t limit) {
  description.clear();
  value.clear();
  if (limit < 1) return 0;
  SetEncoding(uint8_t(in.get()));
  uint32_t used = 1;
  used += Encoding().Read(description, limit - used, in);
  used += Encoding().Read(value, limit - used, in);
  return used;
}
uint32_t UserTextFrame::PayloadSize() const {
  return 1 + Encoding().GetEncodedSize(description) + Encoding().GetEncodedSize(value);
}
void UserTextFrame::WritePayload(std::ostream& out) const {
  Encoding().WriteEncodingByte(out);
  Encoding().Write(out, description);
  Encoding().Write(out, value);
}

// Unique file id
uint32_t UniqueFileIdFrame::Read(std::istream& in, uint32_t limit) {
  uint32_t used = kLatin1.Read(owner, limit, in);
  used += ReadRest(in, limit - used, identifier);
  return used;
}
uint32_t UniqueFileIdFrame::PayloadSize() const { return kLatin1.GetEncodedSize(owner) + uint32_t(identifier.size()); }
void UniqueFileIdFrame::WritePayload(std::ostream& out) const {
  kLatin1.Write(out, owner);
  if (!identifier.empty())
    out.write(reinterpret_cast<const char*>(identifier.data()), std::streamsize(identifier.size()));
}

// Attached picture
uint32_t PictureFrame::Read(std::istream& in, uint32_t limit) {
  picture = fileutil::PictureRecord();
  if (limit < 1) return 0;
  SetEncoding(uint8_t(in.get()));
  uint32_t used = 1;
  used += kLatin1.Read(picture.mimeType, limit - used, in);
  if (used >= limit) return used;
  picture.type = uint8_t(in.get());
  ++used;
  used += Encoding().Read(picture.description, limit - used, in);
  used += ReadRest(in, limit - used, picture.data);
  return used;
}
uint32_t PictureFrame::PayloadSize() const {
  return 1 + kLatin1.GetEncodedSize(picture.mimeType) + 1 + Encoding().GetEncodedSize(picture.description) +
         uint32_t(picture.data.size());
}
void PictureFrame::WritePayload(std::ostream& out) const {
  Encoding().WriteEncodingByte(out);
  kLatin1.Write(out, picture.mimeType);
  out.put(char(uint8_t(picture.type)));
  Encoding().Write(out, picture.description);
  if (!picture.data.empty())
    out.write(reinterpret_cast<const char*>(picture.data.data()), std::streamsize(picture.data.size()));
}

// General encapsulated object
uint32_t GeneralObjectFrame::Read(std::istream& in, uint32_t limit) {
  item = fileutil::GenericItem();
  if (limit < 1) return 0;
  SetEncoding(uint8_t(in.get()));
  uint32_t used = 1;
  used += kLatin1.Read(item.mimeType, limit - used, in);
  used += Encoding().Read(item.fileName, limit - used, in);
  used += Encoding().Read(item.description, limit - used, in);
  used += ReadRest(in, limit - used, item.data);
  return used;
}
uint32_t GeneralObjectFrame::PayloadSize() const {
  return 1 + kLatin1.GetEncodedSize(item.mimeType) + Encoding().GetEncodedSize(item.fileName) +
         Encoding().GetEncodedSize(item.description) + uint32_t(item.data.size());
}
void GeneralObjectFrame::WritePayload(std::ostream& out) const {
  Encoding().WriteEncodingByte(out);
  kLatin1.Write(out, item.mimeType);
  Encoding().Write(out, item.fileName);
  Encoding().Write(out, item.description);
  if (!item.data.empty()) out.write(reinterpret_cast<const char*>(item.data.data()), std::streamsize(item.data.size()));
}

// Unknown
uint32_t UnknownFrame::Read(std::istream& in, uint32_t limit) { return ReadRest(in, limit, data); }
void UnknownFrame::WritePayload(std::ostream& out) const {
  if (!data.empty()) out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

// ---------------------------------------------------------------------------
// Factories

Factory::Factory(Header* header) : header_(header), default_(new UnknownFrame()) {}

Factory::~Factory() {
  for (Frame* f : owned_) delete f;
  delete default_;
}

void Factory::Register(Frame* prototype) {
  if (!prototype) return;
  owned_.push_back(prototype);
  const FrameFields& h = prototype->GetHeader();
  byId_.insert(std::make_pair(h.id, prototype));
  if (h.hostId != 0) byHost_.insert(std::make_pair(h.hostId, prototype));
}

const Frame& Factory::FindPrototype(uint32_t frameId) const {
  auto it = byId_.find(frameId);
  return it != byId_.end() ? *it->second : *default_;
}

Frame* Factory::FindByHostId(uint32_t hostId) const {
  auto it = byHost_.find(hostId);
  if (it == byHost_.end()) return nullptr;
  Frame* f = it->second->Clone();
  f->GetHeader().header = header_;
  return f;
}

Frame* Factory::CreateFrame(uint32_t frameId) const {
  Frame* f = FindPrototype(frameId).Clone();
  f->GetHeader().id = frameId;
  f->GetHeader().header = header_;
  return f;
}

bool Factory::ReadFrameHeader(const uint8_t b[10], FrameFields& fields) const {
  fileutil::FourCC id(b[0] | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24));
  if (!id.IsUpperAlnum()) return false;
  fields.id = id.GetValue();
  fields.size = header_->ReadFrameSize(b + 4);
  fields.flags = GetBE16(b + 8);
  return true;
}

template <class T>
static T* Prototype(uint32_t id, uint32_t hostId) {
  T* f = new T();
  f->GetHeader().id = id;
  f->GetHeader().hostId = hostId;
  return f;
}

void Factory::RegisterText(const char (&id)[5], uint32_t hostId) { Register(Prototype<TextFrame>(FCC(id), hostId)); }

// The TXXX and UFID prototypes take the first row of their id table (when it
// has one) as their bound description or owner.
void Factory::RegisterCommon() {
  RegisterText("TIT2", FCC("INAM"));
  RegisterText("TIT1", FCC("ISBJ"));
  RegisterText("TOPE", FCC("IART"));
  RegisterText("TPE1", FCC("IART"));
  RegisterText("TPE2", FCC("IAAT"));
  RegisterText("TALB", FCC("ISRC"));
  RegisterText("TRCK", FCC("TRCK"));
  RegisterText("TIT3", FCC("TIT2"));
  RegisterText("TCOP", FCC("ICOP"));
  RegisterText("TCOM", FCC("TCOM"));
  RegisterText("TLEN", FCC("TLEN"));
  UniqueFileIdFrame* ufid = Prototype<UniqueFileIdFrame>(FCC("UFID"), 0);
  const IdTable* owners = GetUniqueFileIdTable();
  if (owners && !owners->Entries().empty()) {
    ufid->owner = owners->Entries().begin()->first;
    ufid->GetHeader().hostId = owners->Entries().begin()->second;
  }
  Register(ufid);
  UserTextFrame* txxx = Prototype<UserTextFrame>(FCC("TXXX"), 0);
  const IdTable* descriptions = GetUserTextIdTable();
  if (descriptions && !descriptions->Entries().empty()) {
    txxx->description = descriptions->Entries().begin()->first;
    txxx->GetHeader().hostId = descriptions->Entries().begin()->second;
  }
  Register(txxx);
  Register(Prototype<PictureFrame>(FCC("APIC"), 0));
  Register(Prototype<GeneralObjectFrame>(FCC("GEOB"), 0));
  Register(Prototype<CommentFrame>(FCC("COMM"), 0));
}

Factory_2_3_0::Factory_2_3_0(Header* header) : Factory(header) {
  RegisterCommon();
  RegisterText("TYER", FCC("ICRD"));
}

// The year of a 2.4 tag is written as TDTG. Other programs keep the recording
// time in TDRC: it is read as the year as well (TDTG stays the id written).
Factory_2_4_0::Factory_2_4_0(Header* header) : Factory(header) {
  RegisterCommon();
  RegisterText("TDTG", FCC("ICRD"));
  RegisterText("TDRC", FCC("ICRD"));
}

// ---------------------------------------------------------------------------
// Headers

Header::Header(uint8_t major, uint8_t revision, uint8_t flags) : major_(major), revision_(revision), flags_(flags) {}

Header::~Header() {
  for (Frame* f : frames_) delete f;
  delete factory_;
}

uint64_t Header::WriteFrameHeader(std::ostream& out, const FrameFields& fields) const {
  uint8_t b[10];
  for (int i = 0; i < 4; ++i) b[i] = uint8_t(fields.id >> (8 * i));
  EncodeFrameSize(fields.size, b + 4);
  PutBE16(b + 8, fields.flags);
  out.write(reinterpret_cast<const char*>(b), 10);
  return 10;
}

void Header::AddFrame(Frame* frame) {
  frame->GetHeader().header = this;
  frames_.push_back(frame);
}

uint32_t Header::UpdateSize(uint64_t startOffset) {
  uint64_t offset = startOffset + 10;
  uint64_t sum = 0;
  for (Frame* f : frames_) {
    f->SetOffset(offset);
    uint64_t bytes = uint64_t(f->GetHeader().size) + f->GetHeader().headerSize;
    offset += bytes;
    sum += bytes;
  }
  size_ = EncodeSyncsafe(uint32_t(sum > kMaxSyncsafe ? kMaxSyncsafe : sum));
  return GetTagSize();
}

uint64_t Header::WriteTag(std::ostream& out) {
  uint64_t sum = 0;
  for (Frame* f : frames_) sum += uint64_t(f->PayloadSize()) + f->GetHeader().headerSize;
  size_ = EncodeSyncsafe(uint32_t(sum > kMaxSyncsafe ? kMaxSyncsafe : sum));
  const uint8_t flags = uint8_t(flags_ & ~(kTagUnsync | kTagExtended | kTagFooter));
  uint8_t h[10] = {'I', 'D', '3', major_, revision_, flags, 0, 0, 0, 0};
  PutBE32(h + 6, size_);
  out.write(reinterpret_cast<const char*>(h), 10);
  uint64_t n = 10;
  for (Frame* f : frames_) n += f->Write(out);
  return n;
}

Header* Header::Clone() const {
  Header* copy = nullptr;
  try {
    if (major_ == 3)
      copy = new Header_2_3_0(revision_, flags_);
    else
      copy = new Header_2_4_0(revision_, flags_);
    copy->size_ = size_;
    for (const Frame* f : frames_) {
      Frame* c = f->Clone();
      copy->AddFrame(c);
    }
  } catch (const std::bad_alloc&) {
    delete copy;
    return nullptr;
  }
  return copy;
}

Header_2_3_0::Header_2_3_0(uint8_t revision, uint8_t flags) : Header(3, revision, flags) {
  SetFactory(new Factory_2_3_0(this));
}
uint32_t Header_2_3_0::ReadFrameSize(const uint8_t b[4]) const { return GetBE32(b); }
void Header_2_3_0::EncodeFrameSize(uint32_t size, uint8_t b[4]) const { PutBE32(b, size); }

Header_2_4_0::Header_2_4_0(uint8_t revision, uint8_t flags) : Header(4, revision, flags) {
  SetFactory(new Factory_2_4_0(this));
}
uint32_t Header_2_4_0::ReadFrameSize(const uint8_t b[4]) const { return DecodeSyncsafe(GetBE32(b)); }
void Header_2_4_0::EncodeFrameSize(uint32_t size, uint8_t b[4]) const {
  PutBE32(b, EncodeSyncsafe(size > kMaxSyncsafe ? kMaxSyncsafe : size));
}

Header* CreateTag(uint8_t majorVersion) {
  try {
    if (majorVersion == 3) return new Header_2_3_0();
    if (majorVersion == 4) return new Header_2_4_0();
  } catch (const std::bad_alloc&) {
  }
  return nullptr;
}

// The frames of a tag body (the bytes after the tag header, within the tag size).
static void ReadFrames(Header& tag, ByteVector body) {
  const bool v3 = tag.MajorVersion() == 3;
  // A 2.3 tag is unsynchronised as a whole, its extended header included.
  if (v3 && (tag.Flags() & kTagUnsync)) body = Resynchronise(body.data(), body.size());
  size_t pos = 0;
  if (tag.Flags() & kTagExtended) {
    if (body.size() < 4) return;
    uint32_t stored = GetBE32(body.data());
    // 2.3: a 32-bit size without its own four bytes; 2.4: syncsafe with them.
    uint64_t extended = v3 ? uint64_t(stored) + 4 : DecodeSyncsafe(stored);
    if (extended < 4 || extended > body.size()) return;
    pos = size_t(extended);
  }
  const uint16_t opaque = v3 ? kOpaqueFlags23 : kOpaqueFlags24;
  const Factory& factory = tag.GetFactory();
  while (body.size() - pos >= 10) {
    FrameFields fields;
    if (!factory.ReadFrameHeader(&body[pos], fields)) break;
    pos += 10;
    size_t available = body.size() - pos;
    size_t n = fields.size < available ? fields.size : available;
    const uint8_t* stored = body.data() + pos;
    pos += n;

    bool raw = (fields.flags & opaque) != 0;
    ByteVector payload;
    if (!raw && !v3 && ((fields.flags & kUnsyncFlag24) || (tag.Flags() & kTagUnsync))) {
      payload = Resynchronise(stored, n);
    } else {
      payload.assign(stored, stored + n);
    }
    if (!raw && !v3 && (fields.flags & kLengthFlag24)) {
      // The data length indicator: four syncsafe bytes before the data.
      payload.erase(payload.begin(), payload.begin() + (payload.size() < 4 ? payload.size() : 4));
    }
    Frame* frame = raw ? new UnknownFrame() : factory.CreateFrame(fields.id);
    FrameFields& h = frame->GetHeader();
    h.id = fields.id;
    h.flags = fields.flags;
    if (!raw && !v3) h.flags &= uint16_t(~(kUnsyncFlag24 | kLengthFlag24));
    if (raw && !v3 && (tag.Flags() & kTagUnsync)) h.flags |= kUnsyncFlag24;
    tag.AddFrame(frame);
    std::istringstream in(std::string(payload.begin(), payload.end()));
    h.size = frame->Read(in, uint32_t(payload.size()));
  }
}

Header* ReadTag(std::istream& in, uint32_t byteCount) {
  if (byteCount < 10) {
    in.ignore(byteCount);
    return nullptr;
  }
  uint8_t h[10];
  in.read(reinterpret_cast<char*>(h), 10);
  if (in.gcount() != 10 || h[0] != 'I' || h[1] != 'D' || h[2] != '3') return nullptr;
  if (h[3] != 3 && h[3] != 4) return nullptr;
  Header* tag = nullptr;
  try {
    tag = h[3] == 3 ? static_cast<Header*>(new Header_2_3_0(h[4], h[5])) : new Header_2_4_0(h[4], h[5]);
    tag->size_ = GetBE32(h + 6);
    uint32_t limit = byteCount - 10;
    uint32_t declared = DecodeSyncsafe(tag->size_);
    if (declared < limit) limit = declared;
    ByteVector body;
    ReadRest(in, limit, body);
    ReadFrames(*tag, std::move(body));
  } catch (const std::bad_alloc&) {
    delete tag;
    return nullptr;
  }
  return tag;
}

void VisitFrames(Header* tag, Visitor& visitor) {
  if (!tag) return;
  for (Frame* f : tag->Frames()) f->Accept(visitor);
}

// ---------------------------------------------------------------------------
// Printing

static std::string Utf8(const std::wstring& w) {
  std::string s;
  fileutil::WideToUtf8(w, s);
  std::string escaped;
  for (char c : s) {
    if (c == '<')
      escaped += "&lt;";
    else if (c == '>')
      escaped += "&gt;";
    else if (c == '&')
      escaped += "&amp;";
    else if (c == '\'')
      escaped += "&apos;";
    else
      escaped += c;
  }
  return escaped;
}

static std::string IdText(uint32_t id) {
  std::string s;
  for (int i = 0; i < 4; ++i) s += char(id >> (8 * i));
  return s;
}

void PrintVisitor::Print(Header* tag) {
  if (!tag) {
    out_ << "<header>NULL</header>\n";
    return;
  }
  out_ << "<tag>\n<version>" << tag->VersionName() << "</version>\n<size>" << DecodeSyncsafe(tag->StoredSize())
       << "</size>\n<flags>" << unsigned(tag->Flags()) << "</flags>\n";
  VisitFrames(tag, *this);
  out_ << "</tag>\n";
}

void PrintVisitor::Open(const Frame& f) {
  const FrameFields& h = f.GetHeader();
  out_ << "<frame id='" << IdText(h.id) << "' size='" << h.size << "' offset='" << h.offset << "' flag='" << h.flags
       << "'>\n";
}
void PrintVisitor::Close(const Frame&) { out_ << "</frame>\n"; }
void PrintVisitor::Text(const char* name, const std::wstring& value) {
  out_ << "<" << name << " type='text'>" << Utf8(value) << "</" << name << ">\n";
}
void PrintVisitor::Int(const char* name, uint64_t value) {
  out_ << "<" << name << " type='int'>" << value << "</" << name << ">\n";
}

void PrintVisitor::Visit(UniqueFileIdFrame& f) {
  Open(f);
  Text("owner", f.owner);
  Int("identifier", f.identifier.size());
  Close(f);
}
void PrintVisitor::Visit(GeneralObjectFrame& f) {
  Open(f);
  Int("encoding", f.GetHeader().encodingByte);
  Text("mime", f.item.mimeType);
  Text("filename", f.item.fileName);
  Text("description", f.item.description);
  Int("data", f.item.data.size());
  Close(f);
}
void PrintVisitor::Visit(PictureFrame& f) {
  Open(f);
  Int("encoding", f.GetHeader().encodingByte);
  Text("mime", f.picture.mimeType);
  Int("type", f.picture.type);
  Text("description", f.picture.description);
  Int("data", f.picture.data.size());
  Close(f);
}
void PrintVisitor::Visit(UserTextFrame& f) {
  Open(f);
  Int("encoding", f.GetHeader().encodingByte);
  Text("description", f.description);
  Text("value", f.value);
  Close(f);
}
void PrintVisitor::Visit(CommentFrame& f) {
  Open(f);
  Int("encoding", f.GetHeader().encodingByte);
  Text("language", std::wstring(f.language, f.language + 3));
  Text("description", f.description);
  Text("text", f.text);
  Close(f);
}
void PrintVisitor::Visit(TextFrame& f) {
  Open(f);
  Int("encoding", f.GetHeader().encodingByte);
  Text("text", f.text);
  Close(f);
}
void PrintVisitor::Visit(UnknownFrame& f) {
  Open(f);
  Int("data", f.data.size());
  Close(f);
}

// ---------------------------------------------------------------------------
// Id tables

IdTable::IdTable(const Row* rows) {
  for (; rows && rows->id != 0; ++rows) map_.insert(std::make_pair(std::wstring(rows->name), rows->id));
}

uint32_t IdTable::Find(const std::wstring& name) const {
  auto it = map_.find(name);
  return it != map_.end() ? it->second : 0;
}

// The descriptions and owners of these frames are keys of an outside data
// provider; no rows are carried.
static const IdTable::Row kUserTextRows[] = {{nullptr, 0}};
static const IdTable::Row kUniqueFileIdRows[] = {{nullptr, 0}};

static IdTable* g_userTextTable = nullptr;
static IdTable* g_uniqueFileIdTable = nullptr;

void CreateIdTables() {
  if (!g_userTextTable) g_userTextTable = new (std::nothrow) IdTable(kUserTextRows);
  if (!g_uniqueFileIdTable) g_uniqueFileIdTable = new (std::nothrow) IdTable(kUniqueFileIdRows);
}

void DestroyIdTables() {
  delete g_userTextTable;
  delete g_uniqueFileIdTable;
  g_userTextTable = nullptr;
  g_uniqueFileIdTable = nullptr;
}

const IdTable* GetUserTextIdTable() { return g_userTextTable; }
const IdTable* GetUniqueFileIdTable() { return g_uniqueFileIdTable; }

// ---------------------------------------------------------------------------
// ID3v1 genres

// clang-format off
static const wchar_t* const kGenres[] = {
    L"Blues", L"Classic Rock", L"Country", L"Dance", L"Disco", L"Funk", L"Grunge", L"Hip-Hop", L"Jazz", L"Metal",
    L"New Age", L"Oldies", L"Other", L"Pop", L"R&B", L"Rap", L"Reggae", L"Rock", L"Techno", L"Industrial",
    L"Alternative", L"Ska", L"Death Metal", L"Pranks", L"Soundtrack", L"Euro-Techno", L"Ambient", L"Trip-Hop",
    L"Vocal", L"Jazz+Funk", L"Fusion", L"Trance", L"Classical", L"Instrumental", L"Acid", L"House", L"Game",
    L"Sound Clip", L"Gospel", L"Noise", L"AlternRock", L"Bass", L"Soul", L"Punk", L"Space", L"Meditative",
    L"Instrumental Pop", L"Instrumental Rock", L"Ethnic", L"Gothic", L"Darkwave", L"Techno-Industrial",
    L"Electronic", L"Pop-Folk", L"Eurodance", L"Dream", L"Southern Rock", L"Comedy", L"Cult", L"Gangsta",
    L"Top 40", L"Christian Rap", L"Pop/Funk", L"Jungle", L"Native American", L"Cabaret", L"New Wave",
    L"Psychadelic", L"Rave", L"Showtunes", L"Trailer", L"Lo-Fi", L"Tribal", L"Acid Punk", L"Acid Jazz", L"Polka",
    L"Retro", L"Musical", L"Rock & Roll", L"Hard Rock", L"Folk", L"Folk-Rock", L"National Folk", L"Swing",
    L"Fast Fusion", L"Bebob", L"Latin", L"Revival", L"Celtic", L"Bluegrass", L"Avantgarde", L"Gothic Rock",
    L"Progressive Rock", L"Psychedelic Rock", L"Symphonic Rock", L"Slow Rock", L"Big Band", L"Chorus",
    L"Easy Listening", L"Acoustic", L"Humour", L"Speech", L"Chanson", L"Opera", L"Chamber Music", L"Sonata",
    L"Symphony", L"Booty Bass", L"Primus", L"Porn Groove", L"Satire", L"Slow Jam", L"Club", L"Tango", L"Samba",
    L"Folklore", L"Ballad", L"Power Ballad", L"Rhythmic Soul", L"Freestyle", L"Duet", L"Punk Rock", L"Drum Solo",
    L"A capella", L"Euro-House", L"Dance Hall", L"Goa", L"Drum & Bass", L"Club-House", L"Hardcore", L"Terror",
    L"Indie", L"BritPop", L"Afro-Punk", L"Polsk Punk", L"Beat", L"Christian Gangsta Rap", L"Heavy Metal",
    L"Black Metal", L"Crossover", L"Contemporary Christian", L"Christian Rock", L"Merengue", L"Salsa",
    L"Thrash Metal", L"Anime", L"JPop", L"SynthPop",
};
// clang-format on
static_assert(sizeof(kGenres) / sizeof(kGenres[0]) == 148, "148 genres");

uint32_t Id3v1GenreCount() { return 148; }

static wchar_t Lower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c; }

uint32_t Id3v1GenreFromName(const std::wstring& name) {
  for (uint32_t i = 0; i < 148; ++i) {
    const wchar_t* g = kGenres[i];
    size_t k = 0;
    while (g[k] && k < name.size() && Lower(g[k]) == Lower(name[k])) ++k;
    if (!g[k] && k == name.size()) return i + 1;
  }
  return 255;
}

std::wstring Id3v1GenreName(uint32_t number) {
  if (number < 1 || number > 148) return std::wstring();
  return kGenres[number - 1];
}

// ---------------------------------------------------------------------------
// The tag services of 'ID32' boxes

namespace {

void* OpRead(std::istream& in, uint32_t size) { return ReadTag(in, size); }
uint32_t OpUpdate(void* tag, uint64_t offset) { return static_cast<Header*>(tag)->UpdateSize(offset); }
uint64_t OpWrite(void* tag, std::ostream& out) { return static_cast<Header*>(tag)->WriteTag(out); }
void* OpClone(const void* tag) { return static_cast<const Header*>(tag)->Clone(); }
void OpDestroy(void* tag) { delete static_cast<Header*>(tag); }

const fileutil::Id3TagOperations kOperations = {OpRead, OpUpdate, OpWrite, OpClone, OpDestroy};

}  // namespace

void InstallTagOperations() { fileutil::SetId3TagOperations(&kOperations); }
void RemoveTagOperations() { fileutil::SetId3TagOperations(nullptr); }

}  // namespace id3meta
