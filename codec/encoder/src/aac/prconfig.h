// The program_config_element: building one from a channel configuration or
// from a list of syntactic elements, and writing it.
#pragma once

#include <cstdint>

#include "bit_buf.h"
#include "errorhnd.h"

enum { kPceMaxListElements = 16 };

// Element types: the syntactic element ids.
enum PceElementType {
  kPceSce = 0,
  kPceCpe = 1,
  kPceCce = 2,
  kPceLfe = 3,
  kPceDse = 4,
};

struct PceElement {
  int32_t type;             // PceElementType
  int32_t instanceTag;
  int32_t channelCount;
  int32_t ccElementIsIndSw;  // coupling elements only
};

struct PceRecord {
  int32_t objectType;  // the 2-bit object_type field (profile)
  int32_t elementInstanceTag;
  int32_t samplingFrequencyIndex;  // -1 for a rate outside the table
  int32_t numElements;
  int32_t numChannels;
  int32_t numFront, numSide, numBack, numLfe, numAssocData, numCc;
  int32_t monoMixdownPresent, monoMixdownElement;
  int32_t stereoMixdownPresent, stereoMixdownElement;
  int32_t matrixMixdownIdxPresent, matrixMixdownIdx, pseudoSurroundEnable;
  PceElement* front[kPceMaxListElements];
  PceElement* side[kPceMaxListElements];
  PceElement* back[kPceMaxListElements];
  PceElement* lfe[kPceMaxListElements];
  PceElement* assocData[kPceMaxListElements];
  PceElement* cc[kPceMaxListElements];
  int32_t commentFieldBytes;
  uint8_t* comment;
  PceElement* elementStore;  // every element of the lists, one block
};

// Builds a record. Without an element list the elements of channel
// configuration 1-7 are used; with a list, the elements are placed by the
// speaker positions when given (0 front, 1 side, 2 back, other front), else
// single-channel elements go to the front until the first pair element and
// to the side after it. The record is stored in *out also when building from
// a configuration fails (the caller deletes it).
CodecError* createPce(PceRecord** out, int32_t objectType, int32_t channelConfiguration, int32_t samplingRate,
                      int32_t elementCount, const PceElement* elements, const int32_t* speakerPositions);

// Speaker positions (as createPce takes them) for a layout of `count`
// elements all of one type (kPceSce or kPceCpe): front first, then side and
// back, so that a decoder gives every channel a speaker of its own (two to
// twelve single channels, two to six pairs); null for other counts.
const int32_t* pceUniformPositions(int32_t type, int32_t count);
// Frees the elements and the record; null is ignored.
void deletePce(PceRecord* record);
// Writes the element (with its 3-bit id 5 when asked); the bytes are aligned
// on the buffer's bit count before the comment field.
CodecError* writePce(const PceRecord* record, bit_buf* buffer, int32_t withElementId);

bool pceIsCpe(const PceElement* element);
int32_t pceGetChannelCount(const PceRecord* record);
// The object type field; all ones for a null record.
int32_t pceGetObjectType(const PceRecord* record);
