// Sample-rate converter front layer: kind selection, block bookkeeping and
// the pass-through kind; the polyphase kinds run in polyphase.cpp.
#include "resampler.h"

#include <cmath>
#include <cstring>
#include <new>

#include "polyphase.h"
#include "utillib.h"

struct Resampler {
  uint32_t inRate = 0;
  uint32_t outRate = 0;
  int32_t channels = 0;
  int32_t inBufferSize = 0;  // nominal input block plus one frame
  int32_t outBlock = 0;
  int32_t frameUnit = 0;
  int32_t inCount = 0;
  int32_t outCount = 0;
  int32_t nominalIn = 0;
  int32_t nominalInCopy = 0;
  int32_t runState = 0;
  int32_t kind = 0;
  int32_t quality = 0;
  float* inBuffer = nullptr;
  float* outBuffer = nullptr;
  PolyphaseConverter* poly = nullptr;
  ResamplerTuning tuning{};
  int32_t* paramBlock = nullptr;  // kinds 3 and 4
};

namespace {

void freeRecord(Resampler* r) {
  if (r == nullptr) return;
  if (r->kind == kResamplerPassThrough) utilFree(r->inBuffer, __FILE__, __LINE__);
  polyphaseDelete(r->poly);
  utilFree(r->paramBlock, __FILE__, __LINE__);
  delete r;
}

bool isPolyphase(int32_t kind) { return kind >= 10 && kind <= 17; }

// Round half up of a non-negative ratio product.
int64_t roundHalfUp(double v) { return static_cast<int64_t>(std::floor(v + 0.5)); }

// Builds the record handed to the converter from the caller's three words.
ResamplerTuning fromCallerWords(const float* words) {
  return ResamplerTuning{words[2], words[0], words[1], 1.0f, 0};
}

}  // namespace

int32_t ResamplerOpen(HANDLE_RESAMPLER* handle, const ResamplerTuning* tuning, uint32_t inRate,
                      uint32_t outRate, int32_t channels, int32_t inLimit, int32_t outBlockSamples,
                      int32_t kind, int32_t quality) {
  if (handle == nullptr) return 2;
  *handle = nullptr;
  if (kind >= 1000 && kind <= 1013) return 1;
  if (channels <= 0 || inRate == 0 || outRate == 0) return 1;
  if (outBlockSamples < 0 || outBlockSamples % channels != 0 || inLimit < 0 || inLimit % channels != 0)
    return 1;
  Resampler* r = new (std::nothrow) Resampler();
  if (r == nullptr) return 2;
  r->inRate = inRate;
  r->outRate = outRate;
  r->channels = channels;
  r->frameUnit = channels;
  r->outBlock = outBlockSamples;
  r->kind = kind;
  r->quality = quality;
  double nominal = std::trunc(static_cast<double>(inRate) / outRate * (outBlockSamples / channels)) * channels;
  if (nominal < 0.0 || nominal > 0x3FFFFFFF) {
    freeRecord(r);
    return 1;
  }
  r->nominalIn = static_cast<int32_t>(nominal);
  if (r->nominalIn > inLimit) r->nominalIn = inLimit;
  r->nominalInCopy = r->nominalIn;
  r->inBufferSize = r->nominalIn + channels;

  if (kind == kResamplerPassThrough) {
    int32_t size = outBlockSamples < r->inBufferSize ? outBlockSamples : r->inBufferSize;
    if (size <= 0) {
      freeRecord(r);
      return 1;
    }
    r->inBuffer = static_cast<float*>(utilCalloc(static_cast<uint32_t>(size), sizeof(float), __FILE__, __LINE__));
    if (r->inBuffer == nullptr) {
      freeRecord(r);
      return 1;
    }
    r->outBuffer = r->inBuffer;
    r->inCount = size;
    r->outCount = size;
  } else if (kind == kResamplerExternal) {
    // No external converter library in this system: it is never available.
    freeRecord(r);
    return 1;
  } else if (kind == 3 || kind == 4) {
    r->paramBlock = static_cast<int32_t*>(utilCalloc(1, sizeof(int32_t), __FILE__, __LINE__));
    if (r->paramBlock == nullptr) {
      freeRecord(r);
      return 3;
    }
    if (quality == 5) {
      float first = tuning != nullptr ? tuning->attenuation : 0.0f;
      std::memcpy(r->paramBlock, &first, sizeof first);
    } else if (quality == 6) {
      *r->paramBlock = 3;
    } else {
      freeRecord(r);
      return 1;
    }
  } else if (isPolyphase(kind)) {
    r->tuning = tuning != nullptr ? *tuning : ResamplerTuning{0.0f, 0.0f, 0.0f, 1.0f, 0};
    if (!(r->tuning.attenuation > 0.0f)) r->tuning.attenuation = 90.0f;
    if (r->tuning.passEdge < 0.0f) r->tuning.passEdge = 0.0f;
    if (r->tuning.transition < 0.0f) r->tuning.transition = 0.0f;
    if (r->tuning.rateThreshold == 0) r->tuning.rateThreshold = 50000;
    PolyphaseTuning pt{r->tuning.attenuation, r->tuning.passEdge, r->tuning.transition, r->tuning.gain,
                       r->tuning.rateThreshold};
    polyphaseInitConvolve();
    CodecError* err = polyphaseCreate(&r->poly, inRate, outRate, channels, r->inBufferSize,
                                      outBlockSamples, inLimit, kind - 10, quality, &pt);
    if (err != nullptr) {
      deleteError(err);
      freeRecord(r);
      return 1;
    }
    r->inCount = polyphaseNextInput(r->poly);
    r->outCount = outBlockSamples;
    if (r->inCount > r->inBufferSize) r->inBufferSize = r->inCount;
  }
  *handle = r;
  return 0;
}

int32_t CreateResampler(HANDLE_RESAMPLER* handle, const float* callerTuning, uint32_t inRate,
                        uint32_t outRate, int32_t channels, int32_t outBlockSamples,
                        int32_t* inputSamples, int32_t* outputSamples) {
  if (inputSamples != nullptr) *inputSamples = 0;
  if (outputSamples != nullptr) *outputSamples = 0;
  if (handle == nullptr) return 2;
  *handle = nullptr;
  if (channels <= 0 || outRate == 0) return 1;
  int64_t inBlock = roundHalfUp(static_cast<double>(inRate) / outRate * (outBlockSamples / channels)) * channels;
  if (inBlock < 0 || inBlock > 0x3FFFFFFF) return 1;
  int32_t kind = inRate == 2u * outRate ? kResamplerPolyphaseHalf : kResamplerPolyphaseGeneral;
  if (callerTuning == nullptr && inRate == outRate) kind = kResamplerPassThrough;
  ResamplerTuning t{};
  const ResamplerTuning* tp = nullptr;
  if (callerTuning != nullptr) {
    t = fromCallerWords(callerTuning);
    tp = &t;
  }
  int32_t rc = ResamplerOpen(handle, tp, inRate, outRate, channels, static_cast<int32_t>(inBlock),
                             outBlockSamples, kind, 9);
  if (rc != 0) return rc;
  if (inputSamples != nullptr) *inputSamples = (*handle)->inCount;
  if (outputSamples != nullptr) *outputSamples = (*handle)->outCount;
  return 0;
}

int32_t CreateResamplerFixedInput(HANDLE_RESAMPLER* handle, const float* callerTuning,
                                  uint32_t inRate, uint32_t outRate, int32_t channels,
                                  int32_t inBlockSamples, int32_t* inputSamples,
                                  int32_t* outputSamples) {
  if (inputSamples != nullptr) *inputSamples = 0;
  if (outputSamples != nullptr) *outputSamples = 0;
  if (handle == nullptr) return 2;
  *handle = nullptr;
  if (channels <= 0 || inRate == 0) return 1;
  int64_t outBlock = roundHalfUp(static_cast<double>(outRate) / inRate * (inBlockSamples / channels)) * channels;
  if (outBlock < 0 || outBlock > 0x3FFFFFFF) return 1;
  ResamplerTuning t{};
  const ResamplerTuning* tp = nullptr;
  if (callerTuning != nullptr) {
    t = fromCallerWords(callerTuning);
    tp = &t;
  }
  int32_t rc = ResamplerOpen(handle, tp, inRate, outRate, channels, inBlockSamples,
                             static_cast<int32_t>(outBlock), kResamplerPolyphaseFixedInput, 8);
  if (rc != 0) return rc;
  if (inputSamples != nullptr) *inputSamples = (*handle)->inCount;
  if (outputSamples != nullptr) *outputSamples = (*handle)->outCount;
  return 0;
}

int32_t RunResampler(HANDLE_RESAMPLER r, int32_t inputCount, const float* input, float** output,
                     int32_t* outputCount, int32_t* nextInputCount) {
  if (output != nullptr) *output = nullptr;
  if (outputCount != nullptr) *outputCount = 0;
  if (nextInputCount != nullptr) *nextInputCount = 0;
  if (r == nullptr || output == nullptr || outputCount == nullptr || nextInputCount == nullptr) return 1;
  if (r->kind == kResamplerPassThrough) {
    if (inputCount < 0 || inputCount > r->inCount || inputCount % r->channels != 0) return 1;
    if (input == nullptr) {
      std::memset(r->inBuffer, 0, sizeof(float) * inputCount);
    } else if (inputCount > 0) {
      std::memmove(r->inBuffer, input, sizeof(float) * inputCount);
    }
    *output = r->outBuffer;
    *outputCount = inputCount;
    *nextInputCount = r->inCount;
    r->runState = 1;
    return 0;
  }
  if (r->poly == nullptr) return 1;  // kinds that do no converter work
  float* out = nullptr;
  int32_t made = 0;
  int32_t next = 0;
  CodecError* err = polyphaseRun(r->poly, input, inputCount, &out, &made, &next);
  if (err != nullptr) {
    deleteError(err);
    return 1;
  }
  r->outBuffer = out;
  r->runState = 1;
  *output = out;
  *outputCount = made;
  *nextInputCount = next;
  return 0;
}

int32_t DeleteResampler(HANDLE_RESAMPLER* handle) {
  if (handle == nullptr) return 2;
  freeRecord(*handle);
  *handle = nullptr;
  return 0;
}

int32_t GetResamplerDelay(HANDLE_RESAMPLER r) {
  if (r == nullptr || r->poly == nullptr) return 0;
  return static_cast<int32_t>(std::floor(polyphaseDelay(r->poly) + 0.5));
}

int32_t ResamplerKind(HANDLE_RESAMPLER r) { return r == nullptr ? -1 : r->kind; }

int32_t ResamplerBands(HANDLE_RESAMPLER r, double* passEdge, double* stopEdge) {
  if (r == nullptr || r->poly == nullptr || passEdge == nullptr || stopEdge == nullptr) return 1;
  PolyphaseDesign d{};
  polyphaseGetDesign(r->poly, &d);
  *passEdge = d.passEdge;
  *stopEdge = d.stopEdge;
  return 0;
}
