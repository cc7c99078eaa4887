// Program config element: building from a configuration or an element list,
// writing, accessors.
#include "prconfig.h"

#include <cstring>

#include "audiospecificconfig.h"
#include "utillib.h"

namespace {

// The 2-bit object_type field (the AAC profile) of the supported types.
int32_t profileOfObjectType(int32_t type) {
  switch (type) {
    case 1: case 2: case 3: case 4: return type - 1;
    // Error-resilient types carry the profile of the tool set they build on:
    // ER AAC LC and ER AAC LD on LC, ER AAC LTP on LTP.
    case 17: case 23: return 1;
    case 19: return 3;
    case 128: case 129: case 130: return type - 128;
    default: return -1;
  }
}

int32_t channelsOfElement(int32_t type) {
  switch (type) {
    case kPceSce: case kPceCce: case kPceLfe: return 1;
    case kPceCpe: return 2;
    default: return 0;
  }
}

CodecError* place(PceRecord* r, PceElement* e, int32_t list) {
  PceElement** target;
  int32_t* count;
  int32_t limit = 15;
  switch (list) {
    case 0: target = r->front; count = &r->numFront; break;
    case 1: target = r->side; count = &r->numSide; break;
    case 2: target = r->back; count = &r->numBack; break;
    case 3: target = r->lfe; count = &r->numLfe; limit = 3; break;
    case 4: target = r->assocData; count = &r->numAssocData; limit = 7; break;
    default: target = r->cc; count = &r->numCc; break;
  }
  // Each count has a field of 4, 2 or 3 bits.
  if (*count >= limit) return createError(__FILE__, __LINE__, "createPce", "too many elements for the PCE");
  target[(*count)++] = e;
  r->numChannels += channelsOfElement(e->type);
  ++r->numElements;
  return nullptr;
}

int32_t listOfType(int32_t type) {
  switch (type) {
    case kPceLfe: return 3;
    case kPceDse: return 4;
    case kPceCce: return 5;
    default: return -1;
  }
}

}  // namespace

CodecError* createPce(PceRecord** out, int32_t objectType, int32_t channelConfiguration, int32_t samplingRate,
                      int32_t elementCount, const PceElement* elements, const int32_t* speakerPositions) {
  if (!out) return createError(__FILE__, __LINE__, "createPce", "null argument");
  *out = nullptr;
  PceRecord* r = static_cast<PceRecord*>(utilCalloc(1, sizeof(PceRecord), __FILE__, __LINE__));
  if (!r) return createError(__FILE__, __LINE__, "createPce", "Out of Memory!");
  const int32_t profile = profileOfObjectType(objectType);
  if (profile < 0) {
    deletePce(r);
    return createError(__FILE__, __LINE__, "createPce", "Audio Object Type not supported by PCE!");
  }
  r->objectType = profile;
  r->samplingFrequencyIndex = findSamplingRateIndex(samplingRate);

  if (!elements || elementCount <= 0) {
    *out = r;
    if (channelConfiguration == 0) return createError(__FILE__, __LINE__, "createPce", "PCE MODE needs element list");
    if (channelConfiguration < 0 || channelConfiguration >= 9)
      return createError(__FILE__, __LINE__, "createPce", "Invalid channel configuration");
    if (channelConfiguration == 8)
      return createError(__FILE__, __LINE__, "createPce", "this speaker mapping is not yet supported");
    // The elements of configurations 1-7 and the list each goes to
    // (0 front, 1 side, 2 back, 3 LFE); tags count per element type.
    struct Slot { int32_t type, list; };
    static const Slot kLayouts[8][5] = {
        {},
        {{kPceSce, 0}},
        {{kPceCpe, 0}},
        {{kPceSce, 0}, {kPceCpe, 0}},
        {{kPceSce, 0}, {kPceCpe, 0}, {kPceSce, 2}},
        {{kPceSce, 0}, {kPceCpe, 0}, {kPceCpe, 2}},
        {{kPceSce, 0}, {kPceCpe, 0}, {kPceCpe, 2}, {kPceLfe, 3}},
        {{kPceSce, 0}, {kPceCpe, 0}, {kPceCpe, 1}, {kPceCpe, 2}, {kPceLfe, 3}},
    };
    static const int32_t kCounts[8] = {0, 1, 1, 2, 3, 3, 4, 5};
    const int32_t n = kCounts[channelConfiguration];
    r->elementStore = static_cast<PceElement*>(utilCalloc(static_cast<uint32_t>(n), sizeof(PceElement), __FILE__, __LINE__));
    if (!r->elementStore) return createError(__FILE__, __LINE__, "createPce", "Out of Memory!");
    int32_t tags[5] = {0, 0, 0, 0, 0};
    for (int32_t i = 0; i < n; ++i) {
      const Slot& s = kLayouts[channelConfiguration][i];
      PceElement* e = &r->elementStore[i];
      e->type = s.type;
      e->instanceTag = tags[s.type]++;
      e->channelCount = channelsOfElement(s.type);
      CodecError* err = place(r, e, s.list);
      if (err) return err;
    }
    return nullptr;
  }

  if (elementCount > 6 * 15) {
    deletePce(r);
    return createError(__FILE__, __LINE__, "createPce", "too many elements for the PCE");
  }
  r->elementStore = static_cast<PceElement*>(
      utilCalloc(static_cast<uint32_t>(elementCount), sizeof(PceElement), __FILE__, __LINE__));
  if (!r->elementStore) {
    deletePce(r);
    return createError(__FILE__, __LINE__, "createPce", "Out of Memory!");
  }
  bool pairSeen = false;
  bool frontPair = false;
  for (int32_t i = 0; i < elementCount; ++i) {
    PceElement* e = &r->elementStore[i];
    *e = elements[i];
    e->channelCount = channelsOfElement(e->type);
    int32_t list = listOfType(e->type);
    if (list < 0) {
      if (e->type != kPceSce && e->type != kPceCpe) continue;  // other types are skipped
      if (speakerPositions) {
        list = (speakerPositions[i] == 1 || speakerPositions[i] == 2) ? speakerPositions[i] : 0;
      } else if (e->type == kPceSce) {
        list = pairSeen ? 1 : 0;
      } else {
        // The first pair is the front pair; later pairs go to the side.
        list = frontPair ? 1 : 0;
        frontPair = true;
        pairSeen = true;
      }
    }
    CodecError* err = place(r, e, list);
    if (err) {
      deletePce(r);
      return err;
    }
  }
  *out = r;
  return nullptr;
}

const int32_t* pceUniformPositions(int32_t type, int32_t count) {
  // 0 front, 1 side, 2 back. Single channels pair up within a list (left
  // and right), so each list takes an even number of them.
  static const int32_t kSingles[13][12] = {
      {}, {}, {0, 0}, {}, {0, 0, 0, 0}, {}, {0, 0, 1, 1, 2, 2}, {}, {0, 0, 0, 0, 1, 1, 2, 2}, {}, {}, {},
      {0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2}};
  static const int32_t kPairs[7][6] = {{}, {0}, {0, 1}, {0, 1, 2}, {0, 0, 1, 2}, {}, {0, 0, 1, 1, 2, 2}};
  if (type == kPceSce && count >= 2 && count <= 12 && kSingles[count][0] == 0 && kSingles[count][1] == 0)
    return kSingles[count];
  if (type == kPceCpe && count >= 1 && count <= 6 && (count == 1 || kPairs[count][1] != 0)) return kPairs[count];
  return nullptr;
}

void deletePce(PceRecord* record) {
  if (!record) return;
  utilFree(record->elementStore, __FILE__, __LINE__);
  utilFree(record->comment, __FILE__, __LINE__);
  utilFree(record, __FILE__, __LINE__);
}

CodecError* writePce(const PceRecord* r, bit_buf* b, int32_t withElementId) {
  if (!r) return createError(__FILE__, __LINE__, "writePce", "no program config element");
  if (withElementId) WriteBits(b, 5, 3);
  const int32_t mark = SetElementMark(b, kMarkPce);
  WriteBits(b, static_cast<uint32_t>(r->elementInstanceTag), 4);
  WriteBits(b, static_cast<uint32_t>(r->objectType), 2);
  WriteBits(b, static_cast<uint32_t>(r->samplingFrequencyIndex), 4);
  WriteBits(b, static_cast<uint32_t>(r->numFront), 4);
  WriteBits(b, static_cast<uint32_t>(r->numSide), 4);
  WriteBits(b, static_cast<uint32_t>(r->numBack), 4);
  WriteBits(b, static_cast<uint32_t>(r->numLfe), 2);
  WriteBits(b, static_cast<uint32_t>(r->numAssocData), 3);
  WriteBits(b, static_cast<uint32_t>(r->numCc), 4);
  WriteBits(b, static_cast<uint32_t>(r->monoMixdownPresent), 1);
  if (r->monoMixdownPresent) WriteBits(b, static_cast<uint32_t>(r->monoMixdownElement), 4);
  WriteBits(b, static_cast<uint32_t>(r->stereoMixdownPresent), 1);
  if (r->stereoMixdownPresent) WriteBits(b, static_cast<uint32_t>(r->stereoMixdownElement), 4);
  WriteBits(b, static_cast<uint32_t>(r->matrixMixdownIdxPresent), 1);
  if (r->matrixMixdownIdxPresent) {
    WriteBits(b, static_cast<uint32_t>(r->matrixMixdownIdx), 2);
    WriteBits(b, static_cast<uint32_t>(r->pseudoSurroundEnable), 1);
  }
  const PceElement* const* speakerLists[3] = {r->front, r->side, r->back};
  const int32_t speakerCounts[3] = {r->numFront, r->numSide, r->numBack};
  for (int l = 0; l < 3; ++l) {
    for (int32_t i = 0; i < speakerCounts[l]; ++i) {
      WriteBits(b, pceIsCpe(speakerLists[l][i]) ? 1u : 0u, 1);
      WriteBits(b, static_cast<uint32_t>(speakerLists[l][i]->instanceTag), 4);
    }
  }
  for (int32_t i = 0; i < r->numLfe; ++i) WriteBits(b, static_cast<uint32_t>(r->lfe[i]->instanceTag), 4);
  for (int32_t i = 0; i < r->numAssocData; ++i) WriteBits(b, static_cast<uint32_t>(r->assocData[i]->instanceTag), 4);
  for (int32_t i = 0; i < r->numCc; ++i) {
    WriteBits(b, static_cast<uint32_t>(r->cc[i]->ccElementIsIndSw), 1);
    WriteBits(b, static_cast<uint32_t>(r->cc[i]->instanceTag), 4);
  }
  if (b) WriteBits(b, 0, (8 - (GetBitsAvail(b) & 7)) & 7);
  WriteBits(b, static_cast<uint32_t>(r->commentFieldBytes), 8);
  for (int32_t i = 0; i < r->commentFieldBytes; ++i) WriteBits(b, r->comment ? r->comment[i] : 0u, 8);
  SetElementMarkEnd(b, mark);
  return nullptr;
}

bool pceIsCpe(const PceElement* element) { return element && element->type == kPceCpe; }
int32_t pceGetChannelCount(const PceRecord* record) { return record ? record->numChannels : 0; }
int32_t pceGetObjectType(const PceRecord* record) { return record ? record->objectType : -1; }
