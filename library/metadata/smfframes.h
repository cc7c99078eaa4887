// Frames of audio-feature metadata (tempo, peak and RMS levels, volume, basic
// and high-level features, chorus phrases, mood words) read from a byte
// stream. A process-wide factory holds one prototype frame per known frame id
// and makes a fresh frame of the right class for each id met in the stream.
//
// Frame layout, all numbers big-endian: id (4 bytes), first tag (4 bytes),
// second tag (4 bytes), u16 value A, u16 value B, u32 payload size, payload.
#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <string>
#include <vector>

#include "fourcc.h"

namespace smf {

using fileutil::FourCC;

class Visitor;

class Frame {
 public:
  Frame(FourCC id, const wchar_t* name);
  virtual ~Frame() {}

  // Reads the header fields after the id, then the payload of the class. A
  // short stream leaves the fields it did not reach as they were.
  virtual void Read(std::istream& in);
  // A new frame of the same class with the same id and name; null when memory ran short.
  virtual Frame* Create() const = 0;
  virtual void Accept(Visitor& visitor) = 0;

  FourCC id;
  uint8_t firstTag[4];   // as stored
  uint8_t secondTag[4];  // as stored
  uint16_t valueA = 0x8000;
  uint16_t valueB = 0;
  uint32_t payloadSize = 0;
  std::wstring name;

 protected:
  Frame(const Frame& other) = default;
  Frame& operator=(const Frame&) = delete;
  virtual void ReadPayload(std::istream& in) = 0;
};

// One u16 and two bytes, as mood-word and high-level-feature entries hold them.
struct FeatureEntry {
  uint16_t value = 0;
  uint8_t first = 0;
  uint8_t second = 0;
};

class BPMFrame : public Frame {
 public:
  BPMFrame() : Frame(FourCC("GBPM"), L"Generic BPM") {}
  Frame* Create() const override;
  void Accept(Visitor& visitor) override;
  uint32_t bpm = 0;

 protected:
  void ReadPayload(std::istream& in) override;
};

class RMSFrame : public Frame {
 public:
  RMSFrame() : Frame(FourCC("GVNM"), L"Peak Volume / RMS Data") {}
  Frame* Create() const override;
  void Accept(Visitor& visitor) override;
  uint32_t peak = 0;
  uint32_t rms = 0;

 protected:
  void ReadPayload(std::istream& in) override;
};

class VolumeFrame : public Frame {
 public:
  VolumeFrame() : Frame(FourCC("STNM"), L"Volume Frame") {}
  Frame* Create() const override;
  void Accept(Visitor& visitor) override;
  uint32_t volume = 0;
  uint16_t extra = 0;

 protected:
  void ReadPayload(std::istream& in) override;
};

class BasicFeaturesFrame : public Frame {
 public:
  BasicFeaturesFrame() : Frame(FourCC("STBF"), L"Basic Features") {}
  Frame* Create() const override;
  void Accept(Visitor& visitor) override;
  std::vector<uint8_t> data;  // the payload as stored

 protected:
  void ReadPayload(std::istream& in) override;
};

class ChorusPhraseFrame : public Frame {
 public:
  ChorusPhraseFrame() : Frame(FourCC("STSA"), L"Chorus Phrase") {}
  Frame* Create() const override;
  void Accept(Visitor& visitor) override;
  uint32_t first = 0;
  std::vector<uint32_t> further;  // payload size / 4 - 1 values

 protected:
  void ReadPayload(std::istream& in) override;
};

class MoodWordFrame : public Frame {
 public:
  MoodWordFrame() : Frame(FourCC("STMO"), L"Mood Word") {}
  Frame* Create() const override;
  void Accept(Visitor& visitor) override;
  std::vector<FeatureEntry> entries;  // payload size / 4 entries

 protected:
  void ReadPayload(std::istream& in) override;
};

class HighLevelFeaturesFrame : public Frame {
 public:
  HighLevelFeaturesFrame() : Frame(FourCC("STHF"), L"High Level Features") {}
  Frame* Create() const override;
  void Accept(Visitor& visitor) override;
  std::vector<FeatureEntry> entries;  // payload size / 4 entries

 protected:
  void ReadPayload(std::istream& in) override;
};

// Any id without a class of its own; the frame keeps the id it was read with.
class UnknownFrame : public Frame {
 public:
  UnknownFrame() : Frame(FourCC(0u), L"UNKNOWN FRAME") {}
  Frame* Create() const override;
  void Accept(Visitor& visitor) override;
  std::vector<uint8_t> data;  // the payload as stored

 protected:
  void ReadPayload(std::istream& in) override;
};

class Visitor {
 public:
  virtual void Visit(BPMFrame& frame) = 0;
  virtual void Visit(RMSFrame& frame) = 0;
  virtual void Visit(VolumeFrame& frame) = 0;
  virtual void Visit(BasicFeaturesFrame& frame) = 0;
  virtual void Visit(ChorusPhraseFrame& frame) = 0;
  virtual void Visit(MoodWordFrame& frame) = 0;
  virtual void Visit(HighLevelFeaturesFrame& frame) = 0;
  virtual void Visit(UnknownFrame& frame) = 0;

 protected:
  ~Visitor() {}
};

// Owns its prototypes.
class Factory {
 public:
  Factory() = default;
  virtual ~Factory();
  Factory(const Factory&) = delete;
  Factory& operator=(const Factory&) = delete;

  // Takes the prototype; one with an id already registered replaces nothing
  // and is destroyed. False when memory ran short.
  bool Register(Frame* prototype);
  // Takes the prototype of every id without one of its own.
  void SetUnknown(Frame* prototype);

  // The prototype of the id, or the unknown-frame prototype (null before one is set).
  const Frame* Lookup(FourCC id) const;
  // A fresh frame of the id's class; null when memory ran short.
  Frame* Create(FourCC id) const;
  // Reads the 4-byte id, makes a frame for it (keeping the id read, so an
  // unknown frame keeps its real id) and lets it read itself. The caller owns
  // the frame; null when the stream does not hold an id.
  Frame* Read(std::istream& in) const;

 private:
  std::map<FourCC, Frame*, fileutil::FourCCCmp> prototypes_;
  Frame* unknown_ = nullptr;
};

// The process-wide factory: made at module load with the unknown prototype and
// the GBPM, GVNM, STBF, STSA, STMO, STHF and STNM prototypes, destroyed at unload.
bool CreateFactory();
void DestroyFactory();
Factory* GetFactory();

}  // namespace smf
