// AudioSpecificConfig and GASpecificConfig writers.
#include "audiospecificconfig.h"

#include "aactables.h"

namespace {

// samplingFrequencyIndex, with the 24-bit escape for rates outside the table.
void writeFrequency(bit_buf* b, int32_t rate) {
  const int32_t index = getSamplingFrequencyIndex(rate);
  WriteBits(b, static_cast<uint32_t>(index), 4);
  if (index == 15) WriteBits(b, static_cast<uint32_t>(rate), 24);
}

// The object type the GA configuration describes: 128-130 stand for 1-3.
int32_t coreType(int32_t type) { return (type >= 128 && type <= 130) ? type - 127 : type; }

}  // namespace

int32_t getSamplingFrequencyIndex(int32_t rate) {
  const int32_t index = findSamplingRateIndex(rate);
  return index < 0 ? 15 : index;
}

int32_t findSamplingRateIndex(int32_t rate) {
  return rate < 0 ? -1 : aacSamplingFrequencyIndex(static_cast<uint32_t>(rate));
}

CodecError* writeAudioSpecificConfig(const AscWriteRecord* r, bit_buf* b) {
  if (!r) return createError(__FILE__, __LINE__, "writeAudioSpecificConfig", "null record");
  CodecError* err = nullptr;
  int32_t written = 0, trailing = 0;
  if (r->objectType >= 128 && r->objectType <= 130) {
    written = r->objectType - 127;
  } else if (r->extensionObjectType == 0) {
    written = r->objectType;
    // A plain AAC core at 24 kHz or less: decoders assume SBR at twice the
    // rate unless told there is none, so the sync extension says so (with
    // sbrPresentFlag 0); hierarchical signalling carries no sync extension.
    if (r->objectType >= 1 && r->objectType <= 4 && r->samplingFrequency <= 24000 &&
        r->sbrSignalling != kAscSbrHierarchical)
      trailing = 5;
  } else {
    switch (r->sbrSignalling) {
      case kAscSbrImplicit: written = r->objectType; break;
      case kAscSbrBackwardCompatible: written = r->objectType; trailing = 5; break;
      case kAscSbrHierarchical: written = r->extensionObjectType; trailing = r->objectType; break;
      default: err = createError(__FILE__, __LINE__, "writeAudioSpecificConfig", "Invalid SBR signaling mode."); break;
    }
  }
  if (!err) {
    WriteBits(b, static_cast<uint32_t>(written), 5);
    writeFrequency(b, r->samplingFrequency);
    WriteBits(b, static_cast<uint32_t>(r->channelConfiguration), 4);
    if (written == 5 && !r->sbrPresentFlag) {
      err = createError(__FILE__, __LINE__, "writeAudioSpecificConfig", "Invalid AOT_SBR configuration.");
    } else if (written == 29 && !(r->sbrPresentFlag && r->psPresentFlag)) {
      err = createError(__FILE__, __LINE__, "writeAudioSpecificConfig", "Invalid AOT_PS configuration.");
    } else {
      if (written == 5 || written == 29) {
        writeFrequency(b, r->extensionSamplingFrequency);
        WriteBits(b, static_cast<uint32_t>(trailing), 5);
      }
      if (r->specificWriter) err = r->specificWriter(r, r->ga, b);
    }
  }
  const int32_t core = r->objectType;
  if (!err && (core == 17 || (core >= 19 && core <= 27))) {
    WriteBits(b, static_cast<uint32_t>(r->epConfig), 2);
    if ((r->epConfig == 2 || r->epConfig == 3) && r->errorProtectionConfig) {
      bit_buf* ep = r->errorProtectionConfig;
      CopyBits(b, ep, GetBitsAvail(ep));
    }
    if (r->epConfig == 3) WriteBits(b, static_cast<uint32_t>(r->directMapping), 1);
  }
  if (!err && trailing == 5) {
    WriteBits(b, 0x2b7, 11);
    WriteBits(b, 5, 5);
    const bool sbr = r->extensionObjectType != 0 && r->sbrPresentFlag;
    WriteBits(b, sbr ? 1u : 0u, 1);
    if (sbr) {
      writeFrequency(b, r->extensionSamplingFrequency);
      if (r->psPresentFlag) {
        WriteBits(b, 0x548, 11);
        WriteBits(b, 1, 1);
      }
    }
  }
  return err;
}

CodecError* writeGaSpecificConfig(const AscWriteRecord* r, const GaSpecificConfigRecord* ga, bit_buf* b) {
  if (!r || !ga) return createError(__FILE__, __LINE__, "writeGaSpecificConfig", "null record");
  const int32_t type = coreType(r->objectType);
  WriteBits(b, (ga->frameLength % 512) != 0 ? 1u : 0u, 1);
  WriteBits(b, ga->dependsOnCoreCoder ? 1u : 0u, 1);
  if (ga->dependsOnCoreCoder) WriteBits(b, static_cast<uint32_t>(ga->coreCoderDelay), 14);
  const bool extensionFlag = type > 16;
  WriteBits(b, extensionFlag ? 1u : 0u, 1);
  if (r->channelConfiguration == 0) {
    CodecError* err = writePce(ga->pce, b, 0);
    if (err) return appendErrorTrace(__FILE__, __LINE__, "writeGaSpecificConfig", err);
  }
  if (type == 6 || type == 20) WriteBits(b, static_cast<uint32_t>(ga->layerNr), 3);
  if (extensionFlag) {
    if (type == 22) {
      WriteBits(b, static_cast<uint32_t>(ga->numOfSubFrame), 5);
      WriteBits(b, static_cast<uint32_t>(ga->layerLength), 11);
    }
    if (type == 17 || type == 19 || type == 20 || type == 23) {
      WriteBits(b, ga->aacSectionDataResilienceFlag ? 1u : 0u, 1);
      WriteBits(b, ga->aacScalefactorDataResilienceFlag ? 1u : 0u, 1);
      WriteBits(b, ga->aacSpectralDataResilienceFlag ? 1u : 0u, 1);
    }
    WriteBits(b, ga->extensionFlag3 ? 1u : 0u, 1);
  }
  return nullptr;
}

PceRecord* ascGetPce(const AscWriteRecord* record) { return (record && record->ga) ? record->ga->pce : nullptr; }

GaSpecificConfigRecord* setErResilienceFlags(AscWriteRecord* record, int32_t spectral, int32_t scalefactor,
                                             int32_t section) {
  if (!record || !record->ga) return nullptr;
  record->ga->aacSpectralDataResilienceFlag = spectral;
  record->ga->aacScalefactorDataResilienceFlag = scalefactor;
  record->ga->aacSectionDataResilienceFlag = section;
  return record->ga;
}
