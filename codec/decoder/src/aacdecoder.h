// The AAC-LC core: decodes one raw data block per access unit into the
// composition-unit buffer, and checks AudioSpecificConfig records at open.
#pragma once

#include <cstdint>

#include "asc.h"
#include "mp2channel.h"

struct AuBuffer;
struct CuBuffer;
struct Mp4AudioDecLayer;

enum { AAC_MAX_TAGS = 16, AAC_MAX_OUTPUT_CHANNELS = 64, AAC_MAX_FIL_ELEMENTS = 64 };

struct AacDecoderCore {
  AacElement* sce[AAC_MAX_TAGS];
  AacElement* cpe[AAC_MAX_TAGS];
  AacElement* cce[AAC_MAX_TAGS];
  AacElement* lfe[AAC_MAX_TAGS];
  const float* outChannels[AAC_MAX_OUTPUT_CHANNELS];
  int32_t sceTags[AAC_MAX_TAGS];
  int32_t cpeTags[AAC_MAX_TAGS];
  int32_t cceTags[AAC_MAX_TAGS];
  int32_t lfeTags[AAC_MAX_TAGS];
  int32_t learntChannels;
  int32_t learnt;
  AacChannelContext ctx;
};

int32_t aacDecoderCreate(AacDecoderCore** core, const Mp4AudioDecLayer* layer);
int32_t aacDecodeRawDataBlock(AacDecoderCore* core, AuBuffer* au, CuBuffer* cu, Mp4AudioDecLayer* layer);
int32_t aacDecoderConceal(AacDecoderCore* core, CuBuffer* cu, const Mp4AudioDecLayer* layer);
int32_t aacDecoderReset(AacDecoderCore* core);
void aacDecoderDestroy(AacDecoderCore** core);
int32_t ascValidate(AudioSpecificConfig* asc);
