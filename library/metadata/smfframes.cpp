// Audio-feature frames and their factory.
#include "smfframes.h"

#include <cstring>
#include <new>

#include "kvbyteorder.h"

namespace smf {

namespace {

// Each reader changes its target only when the stream delivered every byte.
bool ReadBytes(std::istream& in, uint8_t* out, size_t n) {
  uint8_t buffer[4];
  in.read(reinterpret_cast<char*>(buffer), std::streamsize(n));
  if (size_t(in.gcount()) != n) return false;
  std::memcpy(out, buffer, n);
  return true;
}

bool Read16(std::istream& in, uint16_t& v) {
  uint8_t b[2];
  if (!ReadBytes(in, b, 2)) return false;
  v = uint16_t((b[0] << 8) | b[1]);
  return true;
}

bool Read32(std::istream& in, uint32_t& v) {
  uint8_t b[4];
  if (!ReadBytes(in, b, 4)) return false;
  v = GetBE32(b);
  return true;
}

// Up to `size` bytes, grown block by block: a size claimed by a short stream
// never allocates more than the stream delivers.
void ReadRaw(std::istream& in, uint32_t size, std::vector<uint8_t>& out) {
  out.clear();
  const size_t kBlock = 64 * 1024;
  while (out.size() < size) {
    size_t step = size - out.size();
    if (step > kBlock) step = kBlock;
    size_t at = out.size();
    out.resize(at + step);
    in.read(reinterpret_cast<char*>(out.data() + at), std::streamsize(step));
    size_t got = size_t(in.gcount());
    if (got != step) {
      out.resize(at + got);
      return;
    }
  }
}

void ReadEntries(std::istream& in, uint32_t count, std::vector<FeatureEntry>& out) {
  out.clear();
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t b[4];
    if (!ReadBytes(in, b, 4)) return;
    FeatureEntry e;
    e.value = uint16_t((b[0] << 8) | b[1]);
    e.first = b[2];
    e.second = b[3];
    out.push_back(e);
  }
}

template <class T>
Frame* CloneOf(const Frame& prototype) {
  T* frame = new (std::nothrow) T();
  if (!frame) return nullptr;
  frame->id = prototype.id;
  frame->name = prototype.name;
  return frame;
}

Factory* g_factory = nullptr;

}  // namespace

Frame::Frame(FourCC frameId, const wchar_t* frameName) : id(frameId), name(frameName ? frameName : L"") {
  std::memcpy(firstTag, "STAE", 4);
  std::memcpy(secondTag, "MMLW", 4);
}

void Frame::Read(std::istream& in) {
  if (!ReadBytes(in, firstTag, 4) || !ReadBytes(in, secondTag, 4) || !Read16(in, valueA) || !Read16(in, valueB) ||
      !Read32(in, payloadSize))
    return;
  ReadPayload(in);
}

#define FRAME_COMMON(C)                                              \
  Frame* C::Create() const { return CloneOf<C>(*this); }            \
  void C::Accept(Visitor& visitor) { visitor.Visit(*this); }

FRAME_COMMON(BPMFrame)
FRAME_COMMON(RMSFrame)
FRAME_COMMON(VolumeFrame)
FRAME_COMMON(BasicFeaturesFrame)
FRAME_COMMON(ChorusPhraseFrame)
FRAME_COMMON(MoodWordFrame)
FRAME_COMMON(HighLevelFeaturesFrame)
FRAME_COMMON(UnknownFrame)
#undef FRAME_COMMON

void BPMFrame::ReadPayload(std::istream& in) { Read32(in, bpm); }

void RMSFrame::ReadPayload(std::istream& in) {
  if (Read32(in, peak)) Read32(in, rms);
}

void VolumeFrame::ReadPayload(std::istream& in) {
  if (Read32(in, volume)) Read16(in, extra);
}

void BasicFeaturesFrame::ReadPayload(std::istream& in) { ReadRaw(in, payloadSize, data); }

void ChorusPhraseFrame::ReadPayload(std::istream& in) {
  further.clear();
  if (!Read32(in, first)) return;
  // The first value counts as one of the size / 4; a payload under four bytes has no further ones.
  uint32_t count = payloadSize >= 4 ? payloadSize / 4 - 1 : 0;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t v = 0;
    if (!Read32(in, v)) return;
    further.push_back(v);
  }
}

void MoodWordFrame::ReadPayload(std::istream& in) { ReadEntries(in, payloadSize / 4, entries); }

void HighLevelFeaturesFrame::ReadPayload(std::istream& in) { ReadEntries(in, payloadSize / 4, entries); }

void UnknownFrame::ReadPayload(std::istream& in) { ReadRaw(in, payloadSize, data); }

Factory::~Factory() {
  for (auto& entry : prototypes_) delete entry.second;
  prototypes_.clear();
  delete unknown_;
  unknown_ = nullptr;
}

bool Factory::Register(Frame* prototype) {
  if (!prototype) return false;
  if (prototypes_.count(prototype->id)) {
    delete prototype;
    return true;
  }
  try {
    prototypes_.emplace(prototype->id, prototype);
  } catch (const std::bad_alloc&) {
    delete prototype;
    return false;
  }
  return true;
}

void Factory::SetUnknown(Frame* prototype) {
  delete unknown_;
  unknown_ = prototype;
}

const Frame* Factory::Lookup(FourCC id) const {
  auto found = prototypes_.find(id);
  return found != prototypes_.end() ? found->second : unknown_;
}

Frame* Factory::Create(FourCC id) const {
  const Frame* prototype = Lookup(id);
  return prototype ? prototype->Create() : nullptr;
}

Frame* Factory::Read(std::istream& in) const {
  uint8_t b[4];
  if (!ReadBytes(in, b, 4)) return nullptr;
  FourCC id{char(b[0]), char(b[1]), char(b[2]), char(b[3])};
  Frame* frame = Create(id);
  if (!frame) return nullptr;
  frame->id = id;
  try {
    frame->Read(in);
  } catch (const std::bad_alloc&) {
    // A payload too large for memory: the frame keeps what fitted.
  }
  return frame;
}

bool CreateFactory() {
  if (g_factory) return true;
  Factory* factory = new (std::nothrow) Factory();
  if (!factory) return false;
  UnknownFrame* unknown = new (std::nothrow) UnknownFrame();
  if (!unknown) {
    delete factory;
    return false;
  }
  factory->SetUnknown(unknown);
  bool ok = factory->Register(new (std::nothrow) BPMFrame()) && factory->Register(new (std::nothrow) RMSFrame()) &&
            factory->Register(new (std::nothrow) BasicFeaturesFrame()) &&
            factory->Register(new (std::nothrow) ChorusPhraseFrame()) &&
            factory->Register(new (std::nothrow) MoodWordFrame()) &&
            factory->Register(new (std::nothrow) HighLevelFeaturesFrame()) &&
            factory->Register(new (std::nothrow) VolumeFrame());
  if (!ok) {
    delete factory;
    return false;
  }
  g_factory = factory;
  return true;
}

void DestroyFactory() {
  Factory* factory = g_factory;
  g_factory = nullptr;
  delete factory;
}

Factory* GetFactory() { return g_factory; }

}  // namespace smf
