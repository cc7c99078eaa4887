// The ID3v2 tag model: a version 2.3 or 2.4 tag as a header with an ordered
// list of frames, frame factories that map frame ids to summary ids, visitors
// over the frames, and the ID3v1 genre list.
//
// Tags are written as version 2.3 or 2.4 without extended header,
// unsynchronisation or footer. Tags read from other programs may carry them:
// the reader skips an extended header, undoes unsynchronisation (of the whole
// tag in 2.3, of frames in 2.4) and keeps frames it cannot decode (compressed,
// encrypted, grouped) as raw bytes.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <list>
#include <map>
#include <string>
#include <vector>

#include "fourcc.h"
#include "metadataset.h"
#include "textencoding.h"

namespace id3meta {

using fileutil::ByteVector;

// 28-bit numbers in four 7-bit bytes, most significant first.
uint32_t EncodeSyncsafe(uint32_t value);
uint32_t DecodeSyncsafe(uint32_t value);
// The largest tag or frame size a syncsafe field can hold.
const uint32_t kMaxSyncsafe = 0x0FFFFFFF;

class Header;
class Visitor;
class UnknownFrame;

// The header fields of a frame.
struct FrameFields {
  uint64_t offset = 0;  // file position of the frame; set when the tag is laid out
  uint32_t id = 0;      // frame id as a four-character code
  uint32_t hostId = 0;  // summary id; 0 when the frame carries none
  uint32_t size = 0;    // payload bytes
  uint16_t flags = 0;
  Header* header = nullptr;
  const fileutil::CharEncoding* encoding = nullptr;
  uint8_t encodingByte = 0;
  uint16_t headerSize = 10;
};

class Frame {
 public:
  Frame();
  virtual ~Frame() {}
  virtual Frame* Clone() const = 0;
  virtual void Accept(Visitor& visitor) = 0;
  // Reads the payload from the stream, at most `limit` bytes; answers the bytes consumed.
  virtual uint32_t Read(std::istream& in, uint32_t limit) = 0;
  // Writes the frame header and the payload; answers the bytes written.
  virtual uint64_t Write(std::ostream& out);
  // Stores the offset and recomputes the payload size.
  virtual void SetOffset(uint64_t offset);
  FrameFields& GetHeader() { return fields_; }
  const FrameFields& GetHeader() const { return fields_; }

  // Uses the encoding of this id (0 ISO-8859-1, 1 UTF-16 with byte-order
  // mark, 2 big-endian UTF-16, 3 UTF-8; others ISO-8859-1).
  void SetEncoding(uint8_t encodingByte);
  virtual uint32_t PayloadSize() const = 0;

 protected:
  virtual void WritePayload(std::ostream& out) const = 0;
  const fileutil::CharEncoding& Encoding() const { return *fields_.encoding; }
  FrameFields fields_;
};

class TextFrame : public Frame {
 public:
  Frame* Clone() const override { return new TextFrame(*this); }
  void Accept(Visitor& visitor) override;
  uint32_t Read(std::istream& in, uint32_t limit) override;
  uint32_t PayloadSize() const override;
  std::wstring text;

 protected:
  void WritePayload(std::ostream& out) const override;
};

class CommentFrame : public Frame {
 public:
  Frame* Clone() const override { return new CommentFrame(*this); }
  void Accept(Visitor& visitor) override;
  uint32_t Read(std::istream& in, uint32_t limit) override;
  uint32_t PayloadSize() const override;
  char language[3] = {'e', 'n', 'g'};
  std::wstring description;
  std::wstring text;

 protected:
  void WritePayload(std::ostream& out) const override;
};

class UserTextFrame : public Frame {
 public:
  Frame* Clone() const override { return new UserTextFrame(*this); }
  void Accept(Visitor& visitor) override;
  uint32_t Read(std::istream& in, uint32_t limit) override;
  uint32_t PayloadSize() const override;
  std::wstring description;
  std::wstring value;

 protected:
  void WritePayload(std::ostream& out) const override;
};

class UniqueFileIdFrame : public Frame {
 public:
  Frame* Clone() const override { return new UniqueFileIdFrame(*this); }
  void Accept(Visitor& visitor) override;
  uint32_t Read(std::istream& in, uint32_t limit) override;
  uint32_t PayloadSize() const override;
  std::wstring owner;  // ISO-8859-1
  ByteVector identifier;

 protected:
  void WritePayload(std::ostream& out) const override;
};

class PictureFrame : public Frame {
 public:
  Frame* Clone() const override { return new PictureFrame(*this); }
  void Accept(Visitor& visitor) override;
  uint32_t Read(std::istream& in, uint32_t limit) override;
  uint32_t PayloadSize() const override;
  fileutil::PictureRecord picture;

 protected:
  void WritePayload(std::ostream& out) const override;
};

class GeneralObjectFrame : public Frame {
 public:
  Frame* Clone() const override { return new GeneralObjectFrame(*this); }
  void Accept(Visitor& visitor) override;
  uint32_t Read(std::istream& in, uint32_t limit) override;
  uint32_t PayloadSize() const override;
  fileutil::GenericItem item;

 protected:
  void WritePayload(std::ostream& out) const override;
};

// Any other frame, and frames whose payload is compressed, encrypted or
// grouped: the payload bytes as stored.
class UnknownFrame : public Frame {
 public:
  Frame* Clone() const override { return new UnknownFrame(*this); }
  void Accept(Visitor& visitor) override;
  uint32_t Read(std::istream& in, uint32_t limit) override;
  uint32_t PayloadSize() const override { return uint32_t(data.size()); }
  ByteVector data;

 protected:
  void WritePayload(std::ostream& out) const override;
};

class Visitor {
 public:
  virtual void Visit(UniqueFileIdFrame& frame) = 0;
  virtual void Visit(GeneralObjectFrame& frame) = 0;
  virtual void Visit(PictureFrame& frame) = 0;
  virtual void Visit(UserTextFrame& frame) = 0;
  virtual void Visit(CommentFrame& frame) = 0;
  virtual void Visit(TextFrame& frame) = 0;
  virtual void Visit(UnknownFrame& frame) = 0;

 protected:
  ~Visitor() {}
};

// Frame ids to prototypes, summary ids to prototypes. One per tag version.
class Factory {
 public:
  explicit Factory(Header* header);
  virtual ~Factory();
  Factory(const Factory&) = delete;
  Factory& operator=(const Factory&) = delete;

  // Takes the prototype. The frame-id map keeps the first prototype per id;
  // the host-id map takes it only when its host id is not 0 and not yet present.
  void Register(Frame* prototype);
  // The prototype of the id, or the unknown-frame prototype.
  const Frame& FindPrototype(uint32_t frameId) const;
  // A new frame of the prototype registered for the host id, bound to the
  // header; null when none.
  Frame* FindByHostId(uint32_t hostId) const;
  // A new frame for the id (an unknown frame for unregistered ids), bound to the header.
  Frame* CreateFrame(uint32_t frameId) const;
  // Parses a 10-byte frame header: false when the id is not four characters
  // 'A'-'Z' or '0'-'9'.
  bool ReadFrameHeader(const uint8_t bytes[10], FrameFields& fields) const;

 protected:
  void RegisterCommon();
  void RegisterText(const char (&id)[5], uint32_t hostId);

 private:
  Header* header_;
  std::map<uint32_t, Frame*> byId_;
  std::map<uint32_t, Frame*> byHost_;
  std::vector<Frame*> owned_;
  UnknownFrame* default_;
};

class Factory_2_3_0 : public Factory {
 public:
  explicit Factory_2_3_0(Header* header);
};

class Factory_2_4_0 : public Factory {
 public:
  explicit Factory_2_4_0(Header* header);
};

typedef std::list<Frame*> FrameList;

class Header {
 public:
  virtual ~Header();
  Header(const Header&) = delete;
  Header& operator=(const Header&) = delete;

  // Frame header: id, size in this version's form, flags. Answers 10.
  virtual uint64_t WriteFrameHeader(std::ostream& out, const FrameFields& fields) const;
  // The frame size from its four stored bytes.
  virtual uint32_t ReadFrameSize(const uint8_t bytes[4]) const = 0;
  virtual const char* VersionName() const = 0;
  virtual void EncodeFrameSize(uint32_t size, uint8_t bytes[4]) const = 0;

  // Lays the frames out from `startOffset` on (the tag's first byte) and
  // stores the syncsafe sum of (payload + 10) as the tag size. Answers the
  // tag's whole size.
  uint32_t UpdateSize(uint64_t startOffset);
  // "ID3", version, revision, flags, size, then every frame. Answers the bytes written.
  uint64_t WriteTag(std::ostream& out);
  // The decoded size + 10.
  uint32_t GetTagSize() const { return DecodeSyncsafe(size_) + 10; }

  uint8_t MajorVersion() const { return major_; }
  uint8_t Revision() const { return revision_; }
  uint8_t Flags() const { return flags_; }
  uint32_t StoredSize() const { return size_; }  // syncsafe as stored
  FrameList& Frames() { return frames_; }
  const FrameList& Frames() const { return frames_; }
  Factory& GetFactory() { return *factory_; }
  // Appends a frame (owned from now on) and binds it to this header.
  void AddFrame(Frame* frame);
  // A deep copy with its frames; null when memory ran short.
  Header* Clone() const;

 protected:
  Header(uint8_t major, uint8_t revision, uint8_t flags);
  void SetFactory(Factory* factory) { factory_ = factory; }

 private:
  friend Header* ReadTag(std::istream& in, uint32_t byteCount);
  uint8_t major_;
  uint8_t revision_;
  uint8_t flags_;
  uint32_t size_ = 0;
  FrameList frames_;
  Factory* factory_ = nullptr;
};

class Header_2_3_0 : public Header {
 public:
  Header_2_3_0(uint8_t revision = 0, uint8_t flags = 0);
  uint32_t ReadFrameSize(const uint8_t bytes[4]) const override;
  const char* VersionName() const override { return "ID3v2.3"; }
  void EncodeFrameSize(uint32_t size, uint8_t bytes[4]) const override;
};

class Header_2_4_0 : public Header {
 public:
  Header_2_4_0(uint8_t revision = 0, uint8_t flags = 0);
  uint32_t ReadFrameSize(const uint8_t bytes[4]) const override;
  const char* VersionName() const override { return "ID3v2.4"; }
  void EncodeFrameSize(uint32_t size, uint8_t bytes[4]) const override;
};

// A new empty tag of major version 3 or 4 (revision 0, flags 0); null for
// other versions or when memory ran short.
Header* CreateTag(uint8_t majorVersion);

// Reads a tag of at most `byteCount` bytes from the stream: null when fewer
// than 10 bytes are there, the bytes do not start with "ID3", or the version
// is not 3 or 4. Bytes beyond the tag are left unread only within byteCount.
Header* ReadTag(std::istream& in, uint32_t byteCount);

// Every frame in order; a null tag is ignored.
void VisitFrames(Header* tag, Visitor& visitor);

// An XML-like dump of a tag (a null tag prints header = "NULL").
class PrintVisitor : public Visitor {
 public:
  explicit PrintVisitor(std::ostream& out) : out_(out) {}
  void Print(Header* tag);
  void Visit(UniqueFileIdFrame& frame) override;
  void Visit(GeneralObjectFrame& frame) override;
  void Visit(PictureFrame& frame) override;
  void Visit(UserTextFrame& frame) override;
  void Visit(CommentFrame& frame) override;
  void Visit(TextFrame& frame) override;
  void Visit(UnknownFrame& frame) override;

 private:
  void Open(const Frame& frame);
  void Close(const Frame& frame);
  void Text(const char* name, const std::wstring& value);
  void Int(const char* name, uint64_t value);
  std::ostream& out_;
};

// Names to summary ids for TXXX descriptions and UFID owners.
class IdTable {
 public:
  struct Row {
    const wchar_t* name;
    uint32_t id;
  };
  // Rows up to one whose id is 0.
  explicit IdTable(const Row* rows);
  // 0 when the name is not in the table.
  uint32_t Find(const std::wstring& name) const;
  const std::map<std::wstring, uint32_t>& Entries() const { return map_; }

 private:
  std::map<std::wstring, uint32_t> map_;
};

void CreateIdTables();
void DestroyIdTables();
// Null before CreateIdTables.
const IdTable* GetUserTextIdTable();
const IdTable* GetUniqueFileIdTable();

// The ID3v1 genres with their common extensions, numbered from 1 ("Blues")
// to 148 ("SynthPop").
uint32_t Id3v1GenreCount();
// 1 to 148 (names compared without regard to ASCII case); 255 when unknown.
uint32_t Id3v1GenreFromName(const std::wstring& name);
// Empty outside 1 to 148.
std::wstring Id3v1GenreName(uint32_t number);

// The tag services the MP4 box library calls for 'ID32' boxes.
void InstallTagOperations();
void RemoveTagOperations();

}  // namespace id3meta
