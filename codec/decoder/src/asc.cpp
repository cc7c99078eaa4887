// AudioSpecificConfig parsing, comparison, copying and text dump.
#include "asc.h"

#include <cstdarg>
#include <cstdio>
#include <new>
#include <cstring>

#include "aactables.h"
#include "cubuffer_c.h"
#include "decruntime.h"
#include "mp4AudioDecIfc.h"

namespace {

// The parser's own bit source over a copy of the configuration bytes
// (8192-byte buffer). Reads past the end give zero bits and are counted, so a
// short configuration is detected by the bit count.
struct AscReader {
  AacBitstream bs;
  uint8_t data[8192];
  int32_t size;
  int32_t bitPos;
};

AscReader* asReader(AacBitstream* bs) { return reinterpret_cast<AscReader*>(bs); }

uint32_t ascRead(AacBitstream* bs, int n) {
  AscReader* r = asReader(bs);
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) {
    const int32_t p = r->bitPos++;
    const uint32_t bit = (p >= 0 && p < r->size * 8) ? (r->data[p >> 3] >> (7 - (p & 7))) & 1 : 0;
    v = (v << 1) | bit;
  }
  return v;
}
void ascPushBack(AacBitstream* bs, int n) {
  AscReader* r = asReader(bs);
  r->bitPos -= n;
  if (r->bitPos < 0) r->bitPos = 0;
}
void ascAlign(AacBitstream* bs) {
  AscReader* r = asReader(bs);
  r->bitPos = (r->bitPos + 7) & ~7;
}
int32_t ascUsed(AacBitstream* bs) { return asReader(bs)->bitPos; }
int32_t ascLeft(AacBitstream* bs) { return asReader(bs)->size * 8 - asReader(bs)->bitPos; }

bool attach(AscReader* r, const uint8_t* bytes, int32_t count) {
  if (count < 0 || count > static_cast<int32_t>(sizeof(r->data))) return false;
  std::memset(&r->bs, 0, sizeof(r->bs));
  r->bs.byteAlign = ascAlign;
  r->bs.pushBack = ascPushBack;
  r->bs.read = ascRead;
  r->bs.bitsUsed = ascUsed;
  r->bs.bitsLeft = ascLeft;
  r->bs.mode = 0;
  if (count) std::memcpy(r->data, bytes, static_cast<size_t>(count));
  r->size = count;
  r->bitPos = 0;
  return true;
}

inline int32_t rd(AacBitstream* bs, int n) { return static_cast<int32_t>(aacReadBits(bs, 0, n)); }

// True when all that is left is zero padding to a whole byte: the
// configuration ends here. The padding is consumed; otherwise nothing is.
bool endsHere(AacBitstream* bs) {
  const int32_t left = aacGetBitsLeft(bs);
  if (left < 0 || left >= 8) return false;
  if (left > 0 && rd(bs, left) != 0) {
    aacPushBack(bs, left);
    return false;
  }
  return true;
}

int32_t readObjectType(AacBitstream* bs) {
  int32_t aot = rd(bs, 5);
  if (aot == 31) aot = 32 + rd(bs, 6);
  return aot;
}

void readFrequency(AacBitstream* bs, int32_t* index, int32_t* freq) {
  *index = rd(bs, 4);
  if (*index == 15) {
    *freq = rd(bs, 24);
  } else {
    *freq = ascIndexFrequency(*index);
  }
}

bool isKnownAot(int32_t aot) {
  if (aot < 0 || aot > 39) return false;
  if (aot <= 9) return true;
  switch (aot) {
    case 17: case 19: case 20: case 21: case 23: case 24: case 25: case 29: case 30: case 34: case 39:
      return true;
    default:
      return false;
  }
}

bool isCelp(int32_t aot) { return aot == 8 || aot == 24; }
bool isHvxc(int32_t aot) { return aot == 9 || aot == 25; }

int32_t celpFrameLength(const AscCelpConfig& c) {
  if (c.excitationMode == 1) {
    switch (c.rpeConfig) {
      case 0: case 2: case 3: return 240;
      case 1: return 160;
      default: return -1;
    }
  }
  const int32_t m = c.mpeConfig;
  int32_t len = -1;
  if (c.sampleRateMode == 0) {
    if (m <= 2) len = 320;
    else if (m <= 5) len = 240;
    else if (m <= 21) len = 160;
    else if (m <= 26) len = 80;
    else if (m == 27 && !c.isBwsLayer) len = 240;
    if (len > 0 && c.isBwsLayer) len *= 2;
  } else {
    if ((m <= 6) || (m >= 8 && m <= 15)) len = 320;
    else if ((m >= 16 && m <= 22) || (m >= 24 && m <= 31)) len = 160;
  }
  return len;
}

int32_t parseCelp(AudioSpecificConfig* asc, const AudioSpecificConfig* base, AacBitstream* bs) {
  AscCelpConfig& c = asc->celp;
  c.isBaseLayer = rd(bs, 1);
  if (c.isBaseLayer) {
    c.excitationMode = rd(bs, 1);
    c.sampleRateMode = rd(bs, 1);
    c.fineRateControl = rd(bs, 1);
    if (asc->objectType == 24) c.silenceCompression = rd(bs, 1);
    if (c.excitationMode == 1) {
      c.rpeConfig = rd(bs, 3);
    } else {
      c.mpeConfig = rd(bs, 5);
      c.numEnhLayers = rd(bs, 2);
      c.bandwidthScalabilityMode = rd(bs, 1);
    }
    c.layer = 0;
  } else {
    if (!base) return MP4AUDEC_FAILURE;
    const AscCelpConfig& b = base->celp;
    c.excitationMode = b.excitationMode;
    c.sampleRateMode = b.sampleRateMode;
    c.fineRateControl = b.fineRateControl;
    c.silenceCompression = b.silenceCompression;
    c.rpeConfig = b.rpeConfig;
    c.mpeConfig = b.mpeConfig;
    c.numEnhLayers = b.numEnhLayers;
    c.bandwidthScalabilityMode = b.bandwidthScalabilityMode;
    c.isBwsLayer = rd(bs, 1);
    if (c.isBwsLayer) {
      c.bwsConfig = rd(bs, 2);
      c.layer = b.numEnhLayers + 1;
    } else {
      c.brsId = rd(bs, 2);
      if (c.brsId < 1 || c.brsId > 3) return MP4AUDEC_CELP_LAYER;
      c.layer = c.brsId;
    }
  }
  c.frameLength = celpFrameLength(c);
  return 0;
}

int32_t parseHvxc(AudioSpecificConfig* asc, const AudioSpecificConfig* base, AacBitstream* bs) {
  AscHvxcConfig& h = asc->hvxc;
  h.isBaseLayer = rd(bs, 1);
  if (h.isBaseLayer) {
    h.varMode = rd(bs, 1);
    h.rateMode = rd(bs, 2);
    h.extensionFlag = rd(bs, 1);
    if (h.extensionFlag) h.varScalableFlag = rd(bs, 1);
  } else if (base) {
    h.varMode = base->hvxc.varMode;
    h.rateMode = base->hvxc.rateMode;
    h.extensionFlag = base->hvxc.extensionFlag;
    h.varScalableFlag = base->hvxc.varScalableFlag;
  }
  return 0;
}

}  // namespace

int32_t ascIndexFrequency(int32_t index) {
  return (index >= 0 && index < 13) ? static_cast<int32_t>(kAacSamplingFrequencies[index]) : 0;
}

bool ascIsGaType(int32_t aot) {
  switch (aot) {
    case 1: case 2: case 3: case 4: case 6: case 7: case 17: case 19: case 20: case 21: case 22: case 23: case 39:
      return true;
    default:
      return false;
  }
}

bool ascIsErType(int32_t aot) { return aot == 17 || (aot >= 19 && aot <= 27) || aot == 39; }

int32_t ascParsePce(AscProgramConfig* p, AacBitstream* bs, int32_t tag, CuBuffer* cu) {
  std::memset(p, 0, sizeof(*p));
  p->present = 1;
  p->elementTag = tag;
  p->objectType = rd(bs, 2);
  p->samplingFrequencyIndex = rd(bs, 4);
  p->numFront = rd(bs, 4);
  p->numSide = rd(bs, 4);
  p->numBack = rd(bs, 4);
  p->numLfe = rd(bs, 2);
  p->numAssocData = rd(bs, 3);
  p->numCc = rd(bs, 4);
  p->monoMixdownPresent = rd(bs, 1);
  if (p->monoMixdownPresent) p->monoMixdownElement = rd(bs, 4);
  p->stereoMixdownPresent = rd(bs, 1);
  if (p->stereoMixdownPresent) p->stereoMixdownElement = rd(bs, 4);
  p->matrixMixdownPresent = rd(bs, 1);
  if (p->matrixMixdownPresent) {
    p->matrixMixdownIndex = rd(bs, 2);
    p->pseudoSurround = rd(bs, 1);
  }
  for (int i = 0; i < p->numFront; ++i) {
    p->frontIsCpe[i] = rd(bs, 1);
    p->frontTag[i] = rd(bs, 4);
    p->frontChannels += p->frontIsCpe[i] ? 2 : 1;
  }
  for (int i = 0; i < p->numSide; ++i) {
    p->sideIsCpe[i] = rd(bs, 1);
    p->sideTag[i] = rd(bs, 4);
    p->sideChannels += p->sideIsCpe[i] ? 2 : 1;
  }
  for (int i = 0; i < p->numBack; ++i) {
    p->backIsCpe[i] = rd(bs, 1);
    p->backTag[i] = rd(bs, 4);
    p->backChannels += p->backIsCpe[i] ? 2 : 1;
  }
  for (int i = 0; i < p->numLfe; ++i) p->lfeTag[i] = rd(bs, 4);
  for (int i = 0; i < p->numAssocData; ++i) p->assocTag[i] = rd(bs, 4);
  for (int i = 0; i < p->numCc; ++i) {
    p->ccIsIndSw[i] = rd(bs, 1);
    p->ccTag[i] = rd(bs, 4);
  }
  aacByteAlign(bs);
  p->commentBytes = rd(bs, 8);
  uint8_t comment[255];
  for (int i = 0; i < p->commentBytes; ++i) comment[i] = static_cast<uint8_t>(rd(bs, 8));
  const int keep = p->commentBytes < 64 ? p->commentBytes : 64;
  std::memcpy(p->comment, comment, static_cast<size_t>(keep));
  p->channelCount = p->frontChannels + p->sideChannels + p->backChannels + p->numLfe;
  if (cu) cuBufferAddAncillary(cu, CU_ANC_PCE_COMMENT | tag, comment, p->commentBytes);
  return 0;
}

int32_t ascParseGaConfig(AudioSpecificConfig* asc, AacBitstream* bs, int32_t channelConfiguration, int32_t aot) {
  AscGaConfig& g = asc->ga;
  g.frameLengthFlag = rd(bs, 1);
  g.dependsOnCoreCoder = rd(bs, 1);
  if (g.dependsOnCoreCoder && endsHere(bs)) {
    // The configuration ends where the 14-bit core coder delay would start
    // (only the padding of its last byte follows; ffmpeg plays such AAC-LC
    // streams): the delay is 0 and no field after it is present. Only the scalable
    // types have a core coder to depend on; for the others the flag says
    // nothing and is dropped. Without a channel configuration there is no
    // layout, and the configuration is refused as one that ends early.
    if (channelConfiguration == 0) return MP4AUDEC_OUT_OF_MEMORY;
    g.coreCoderDelay = 0;
    g.extensionFlag = 0;
    g.layerNr = 0;
    if (aot != 6 && aot != 20) g.dependsOnCoreCoder = 0;
    return 0;
  }
  if (g.dependsOnCoreCoder) g.coreCoderDelay = rd(bs, 14);
  g.extensionFlag = rd(bs, 1);
  if (channelConfiguration == 0) {
    const int32_t tag = rd(bs, 4);
    const int32_t r = ascParsePce(&g.pce, bs, tag, nullptr);
    if (r) return r;
  }
  g.layerNr = (aot == 6 || aot == 20) ? rd(bs, 3) : 0;
  if (g.extensionFlag) {
    if (aot == 22) {
      g.numOfSubFrame = rd(bs, 5);
      g.layerLength = rd(bs, 11);
    }
    if (aot == 17 || aot == 19 || aot == 20 || aot == 23 || aot == 39) {
      g.vcb11 = rd(bs, 1);
      g.rvlc = rd(bs, 1);
      g.hcr = rd(bs, 1);
    }
    g.extensionFlag3 = rd(bs, 1);
  }
  return 0;
}

int32_t ascChannelCount(const AudioSpecificConfig* asc) {
  const int32_t cc = asc->channelConfiguration;
  if (cc == 0) return asc->ga.pce.channelCount;
  if (cc >= 1 && cc <= 6) return cc;
  if (cc == 7) return 8;
  return MP4AUDEC_BAD_CHANNEL_CONFIG;
}

int32_t ascFrameLength(const AudioSpecificConfig* asc, int32_t aot) {
  switch (aot) {
    case 0:
      return 1024;
    case 1: case 2: case 3: case 4: case 6: case 7: case 17: case 19: case 20: case 21:
      return asc->ga.frameLengthFlag ? 960 : 1024;
    case 23: case 39:
      return asc->ga.frameLengthFlag ? 480 : 512;
    case 9: case 25:
      return 160;
    case 8: case 24:
      return asc->celp.frameLength > 0 ? asc->celp.frameLength : MP4AUDEC_NO_FRAME_LENGTH;
    case 34: case 133: {
      const int32_t f = asc->samplingFrequency;
      if (f == 32000 || f == 44100 || f == 48000) return 1152;
      if (f == 8000 || f == 11025 || f == 12000 || f == 16000 || f == 22050 || f == 24000) return 576;
      return MP4AUDEC_FAILURE;
    }
    case 132: {
      const int32_t f = asc->samplingFrequency;
      if (f == 8000 || f == 11025 || f == 12000 || f == 16000 || f == 22050 || f == 24000 || f == 32000 ||
          f == 44100 || f == 48000)
        return 1152;
      return MP4AUDEC_FAILURE;
    }
    case 134:
      return (asc->samplingFrequency == 32000 || asc->samplingFrequency == 48000) ? 1152 : MP4AUDEC_FAILURE;
    default:
      return MP4AUDEC_UNSUPPORTED_AOT;
  }
}

int32_t ascParse(AudioSpecificConfig* asc, const AudioSpecificConfig* base, AacBitstream* bs, int32_t streamParam1,
                 int32_t streamParam2, int32_t noSyncExtension) {
  if (!asc || !bs) return MP4AUDEC_NULL_POINTER;
  const int32_t totalBits = aacGetBitsLeft(bs);
  asc->objectType = readObjectType(bs);
  asc->origObjectType = asc->objectType;
  asc->streamParam1 = streamParam1;
  asc->streamParam2 = streamParam2;
  readFrequency(bs, &asc->samplingFrequencyIndex, &asc->samplingFrequency);
  asc->channelConfiguration = rd(bs, 4);
  asc->sbrPresent = -1;
  asc->psPresent = -1;
  asc->epConfig = -1;
  if (asc->objectType == 5 || asc->objectType == 29) {
    asc->extensionObjectType = 5;
    asc->sbrPresent = 1;
    if (asc->objectType == 29) asc->psPresent = 1;
    readFrequency(bs, &asc->extensionSamplingFrequencyIndex, &asc->extensionSamplingFrequency);
    asc->objectType = readObjectType(bs);
  } else {
    asc->extensionObjectType = 0;
  }
  const int32_t aot = asc->objectType;
  if (!isKnownAot(aot)) return MP4AUDEC_UNSUPPORTED_AOT;
  int32_t r = 0;
  if (ascIsGaType(aot)) {
    r = ascParseGaConfig(asc, bs, asc->channelConfiguration, aot);
  } else if (isCelp(aot)) {
    r = parseCelp(asc, base, bs);
  } else if (isHvxc(aot)) {
    r = parseHvxc(asc, base, bs);
  } else if (aot == 30) {
    asc->type30.payloadFlag = rd(bs, 1);
    int32_t n = aacGetBitsLeft(bs) / 8;
    if (n > 256) n = 256;
    if (n < 0) n = 0;
    for (int32_t i = 0; i < n; ++i) asc->type30.bytes[i] = static_cast<uint8_t>(rd(bs, 8));
    asc->type30.byteCount = n;
  } else if (aot == 34) {
    asc->mpeg12Extension = rd(bs, 1);
    if (asc->mpeg12Extension) return MP4AUDEC_FAILURE;
  }
  if (r) return r;
  if (ascIsErType(aot)) {
    asc->epConfig = rd(bs, 2);
    if (asc->epConfig == 2 || asc->epConfig == 3) {
      // Error-protection specific configuration: only its set count is
      // checked; the configurations themselves are not supported here.
      asc->ep.numberOfPredefinedSet = rd(bs, 8);
      return MP4AUDEC_EP_CONFIG_INVALID;
    }
    if (asc->epConfig == 3) asc->directMapping = rd(bs, 1);
  }
  if (!noSyncExtension && asc->extensionObjectType != 5 && aacGetBitsLeft(bs) >= 16) {
    if (rd(bs, 11) == 0x2B7) {
      asc->extensionObjectType = readObjectType(bs);
      if (asc->extensionObjectType == 5) {
        asc->sbrPresent = rd(bs, 1);
        if (asc->sbrPresent == 1) {
          readFrequency(bs, &asc->extensionSamplingFrequencyIndex, &asc->extensionSamplingFrequency);
          if (aacGetBitsLeft(bs) >= 12 && rd(bs, 11) == 0x548) asc->psPresent = rd(bs, 1);
        }
      }
    }
  }
  // A configuration that ends early is refused.
  if (aacGetBitsUsed(bs) > totalBits) return MP4AUDEC_OUT_OF_MEMORY;
  const int32_t ch = ascChannelCount(asc);
  if (ch < 0) return ch;
  asc->channelCount = ch;
  const int32_t fl = ascFrameLength(asc, aot);
  if (fl < 0) return fl;
  asc->frameLength = fl;
  return 0;
}

int32_t ascCompare(const AudioSpecificConfig* a, const AudioSpecificConfig* b) {
  if (!a || !b) return MP4AUDEC_FAILURE;
  if (a->objectType != b->objectType || a->samplingFrequencyIndex != b->samplingFrequencyIndex ||
      a->channelConfiguration != b->channelConfiguration)
    return MP4AUDEC_FAILURE;
  const int32_t aot = a->objectType;
  if (ascIsGaType(aot) && std::memcmp(&a->ga, &b->ga, sizeof(a->ga)) != 0) return MP4AUDEC_FAILURE;
  if (ascIsErType(aot)) {
    if (a->epConfig != b->epConfig) return MP4AUDEC_FAILURE;
    if ((a->epConfig == 2 || a->epConfig == 3) && std::memcmp(&a->ep, &b->ep, sizeof(a->ep)) != 0)
      return MP4AUDEC_FAILURE;
  }
  return 0;
}

int32_t ascCopy(AudioSpecificConfig* dst, const AudioSpecificConfig* src) {
  if (!dst || !src) return MP4AUDEC_NULL_POINTER;
  // Words 1-17.
  dst->objectType = src->objectType;
  dst->origObjectType = src->origObjectType;
  dst->samplingFrequencyIndex = src->samplingFrequencyIndex;
  dst->samplingFrequency = src->samplingFrequency;
  dst->channelConfiguration = src->channelConfiguration;
  dst->epConfig = src->epConfig;
  dst->directMapping = src->directMapping;
  dst->sbrPresent = src->sbrPresent;
  dst->psPresent = src->psPresent;
  dst->extensionObjectType = src->extensionObjectType;
  dst->extensionSamplingFrequencyIndex = src->extensionSamplingFrequencyIndex;
  dst->extensionSamplingFrequency = src->extensionSamplingFrequency;
  dst->streamParam1 = src->streamParam1;
  dst->streamParam2 = src->streamParam2;
  dst->layerIndex = src->layerIndex;
  dst->channelCount = src->channelCount;
  dst->frameLength = src->frameLength;
  const int32_t aot = src->objectType;
  if (ascIsGaType(aot)) dst->ga = src->ga;
  if (isCelp(aot)) dst->celp = src->celp;
  if (isHvxc(aot)) dst->hvxc = src->hvxc;
  if (src->epConfig == 2 || src->epConfig == 3) dst->ep = src->ep;
  return 0;
}

int32_t ascGetAot(const AudioSpecificConfig* asc) { return asc ? asc->objectType : MP4AUDEC_NULL_POINTER; }

int32_t ascGetLayerNumber(const AudioSpecificConfig* asc, const AudioSpecificConfig* base) {
  if (!asc) return MP4AUDEC_NULL_POINTER;
  switch (asc->objectType) {
    case 6: case 20:
      return asc->ga.layerNr;
    case 8: case 24:
      if (!base) return MP4AUDEC_FAILURE;
      return asc->celp.isBaseLayer ? 0 : asc->celp.layer;
    case 9: case 25:
      return asc->hvxc.isBaseLayer ? 0 : 1;
    case 30:
      return 1;
    default:
      return 0;
  }
}

namespace {

int appendf(char* text, size_t cap, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
int appendf(char* text, size_t cap, const char* fmt, ...) {
  const size_t used = std::strlen(text);
  if (used + 1 >= cap) return 0;
  va_list ap;
  va_start(ap, fmt);
  const int n = std::vsnprintf(text + used, cap - used, fmt, ap);
  va_end(ap);
  return n;
}

int32_t printRecord(const AudioSpecificConfig* a, char* text, size_t cap) {
  const int32_t aot = a->objectType;
  appendf(text, cap, "%16s %d (%s)\n", "AOT:", aot, mp4AudioDecAotName(aot));
  if (a->extensionObjectType != 0) {
    appendf(text, cap, "%16s %d\n", "extAOT:", a->extensionObjectType);
    appendf(text, cap, "%16s %d\n", "origAOT:", a->origObjectType);
    appendf(text, cap, "%16s %d\n", "sbrPresent:", a->sbrPresent);
    appendf(text, cap, "%16s %d\n", "psPresent:", a->psPresent);
  }
  appendf(text, cap, "%16s %d\n", "fs:", a->samplingFrequency);
  if (a->extensionSamplingFrequency != 0) appendf(text, cap, "%16s %d\n", "extension_fs:", a->extensionSamplingFrequency);
  appendf(text, cap, "%16s %d (%d channel(s))\n", "channelConfig:", a->channelConfiguration, a->channelCount);
  if (ascIsGaType(aot)) {
    int32_t len = -1;
    if (aot == 23 || aot == 39) len = a->ga.frameLengthFlag ? 480 : 512;
    else len = a->ga.frameLengthFlag ? 960 : 1024;
    appendf(text, cap, "%16s %d (%d samples)\n", "framelength:", a->ga.frameLengthFlag, len);
    if (a->ga.dependsOnCoreCoder) appendf(text, cap, "%16s %d\n", "coreCoderDelay:", a->ga.coreCoderDelay);
    if (a->ga.extensionFlag) {
      if (aot == 22) {
        appendf(text, cap, "%16s %d\n", "numSubFrame:", a->ga.numOfSubFrame);
        appendf(text, cap, "%16s %d\n", "layerLength:", a->ga.layerLength);
      }
      if (aot == 17 || aot == 19 || aot == 20 || aot == 23 || aot == 39) {
        appendf(text, cap, "%16s %d\n", "vcb11:", a->ga.vcb11);
        appendf(text, cap, "%16s %d\n", "rvlc:", a->ga.rvlc);
        appendf(text, cap, "%16s %d\n", "hcr:", a->ga.hcr);
      }
      appendf(text, cap, "%16s %d\n", "extension3:", a->ga.extensionFlag3);
    }
  } else if (aot == 30) {
    appendf(text, cap, "%16s %d (%s)\n", "payload:", a->type30.payloadFlag, a->type30.payloadFlag ? "embedded" : "seperate");
  } else {
    switch (aot) {
      case 0: case 8: case 9: case 24: case 25: case 34: case 132: case 133: case 134:
        break;
      default:
        appendf(text, cap, "unsupported aot (%d)\n", aot);
        return MP4AUDEC_UNSUPPORTED_AOT;
    }
  }
  if (ascIsErType(aot)) {
    appendf(text, cap, "%16s %d\n", "epConfig:", a->epConfig);
    if (a->epConfig == 3) appendf(text, cap, "%16s %d\n", "directMapping:", a->directMapping);
  }
  return 0;
}

}  // namespace

int32_t ascPrint(const AudioSpecificConfig* asc, char* text) {
  if (!asc || !text) return MP4AUDEC_NULL_POINTER;
  text[0] = 0;
  return printRecord(asc, text, 2048);
}

int32_t mp4AudioDecAscToText(int32_t layers, AudioSpecificConfig* const* records, int32_t size, char* buffer) {
  if (!records || !buffer) return MP4AUDEC_NULL_POINTER;
  if (layers == 0 || size <= 0) return MP4AUDEC_ZERO_COUNT;
  if (layers > kMp4AudioDecMaxLayers || layers < 0) return MP4AUDEC_TOO_MANY_LAYERS;
  std::memset(buffer, 0, static_cast<size_t>(size));
  int32_t result = 0;
  for (int32_t i = 0; i < layers; ++i) {
    if (!records[i]) return MP4AUDEC_NULL_POINTER;
    appendf(buffer, static_cast<size_t>(size), "\nAudioSpecificConfig for layer %d:\n", i);
    const int32_t r = printRecord(records[i], buffer, static_cast<size_t>(size));
    if (r) result = r;
  }
  return result;
}

int32_t mp4AudioDecParseAscLayers(const uint8_t* const* bytes, const int32_t* counts, const int32_t* streamParams,
                                  int32_t layers, AudioSpecificConfig* const* records) {
  if (layers > kMp4AudioDecMaxLayers) return MP4AUDEC_TOO_MANY_LAYERS;
  if (!bytes || !counts || !streamParams || !records) return MP4AUDEC_NULL_POINTER;
  for (int32_t i = 0; i < layers; ++i) {
    if (!bytes[i] || !records[i]) return MP4AUDEC_NULL_POINTER;
    AscReader* reader = static_cast<AscReader*>(DEC_MALLOC(sizeof(AscReader)));
    if (!reader) return MP4AUDEC_OUT_OF_MEMORY;
    if (!attach(reader, bytes[i], counts[i])) {
      DEC_FREE(reader);
      return MP4AUDEC_OUT_OF_MEMORY;
    }
    const int32_t r = ascParse(records[i], records[0] == records[i] ? nullptr : records[0], &reader->bs,
                               streamParams[i], 0, 0);
    DEC_FREE(reader);
    records[i]->layerIndex = i;
    if (r) return r;
  }
  return 0;
}

int32_t mp4AudioDecParseAsc(const uint8_t* bytes, int32_t count, AudioSpecificConfig* asc) {
  if (!bytes || !asc) return MP4AUDEC_NULL_POINTER;
  AscReader* reader = static_cast<AscReader*>(DEC_MALLOC(sizeof(AscReader)));
  if (!reader) return MP4AUDEC_OUT_OF_MEMORY;
  if (!attach(reader, bytes, count)) {
    DEC_FREE(reader);
    return MP4AUDEC_OUT_OF_MEMORY;
  }
  const int32_t r = ascParse(asc, nullptr, &reader->bs, 1, 0, 0);
  DEC_FREE(reader);
  return r;
}

int32_t mp4AudioDecParseAscScalable(const uint8_t* const* bytes, int32_t layers, const int32_t* counts,
                                    int32_t streamParam, int32_t* layerNumbers, AudioSpecificConfig** records,
                                    int32_t* perLayerCounts) {
  if (layers == 0) return MP4AUDEC_ZERO_COUNT;
  if (!bytes || !counts || !layerNumbers || !records || !perLayerCounts) return MP4AUDEC_NULL_POINTER;
  if (layers < 0 || layers > kMp4AudioDecMaxLayers) return MP4AUDEC_TOO_MANY_LAYERS;
  for (int32_t i = 0; i < layers; ++i) perLayerCounts[i] = 0;
  int32_t highest = -1;
  for (int32_t i = 0; i < layers; ++i) {
    if (!bytes[i]) return MP4AUDEC_NULL_POINTER;
    if (!records[i]) {
      records[i] = static_cast<AudioSpecificConfig*>(DEC_CALLOC(1, sizeof(AudioSpecificConfig)));
      if (!records[i]) return MP4AUDEC_OUT_OF_MEMORY;
    }
    AudioSpecificConfig* rec = records[i];
    rec->streamParam2 = 555;  // marks a record of a scalable configuration
    AscReader* reader = static_cast<AscReader*>(DEC_MALLOC(sizeof(AscReader)));
    if (!reader) return MP4AUDEC_OUT_OF_MEMORY;
    if (!attach(reader, bytes[i], counts[i])) {
      DEC_FREE(reader);
      return MP4AUDEC_OUT_OF_MEMORY;
    }
    const int32_t r = ascParse(rec, i ? records[0] : nullptr, &reader->bs, streamParam, 555, 0);
    DEC_FREE(reader);
    if (r) return r;
    rec->layerIndex = i;
    // Layer number: TwinVQ and the speech coders by their base/enhancement
    // role, the scalable AAC types by their layerNr.
    int32_t number;
    switch (rec->objectType) {
      case 7: case 21:
        number = i == 0 ? 0 : 1;
        break;
      default:
        number = ascGetLayerNumber(rec, records[0]);
        break;
    }
    if (number < 0 || number >= layers) return MP4AUDEC_FAILURE;
    ++perLayerCounts[number];
    if (number > highest) highest = number;
  }
  *layerNumbers = highest + 1;
  return 0;
}
