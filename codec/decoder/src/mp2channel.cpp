// Channel elements of the AAC-LC core: their life cycle, and the decoding of
// an SCE/LFE or a CPE from its channel streams through the spectral tools and
// the filter bank; coupling channel elements are parsed and skipped.
#include "mp2channel.h"

#include <cstring>

#include "aactables.h"
#include "channel_parts.h"

using namespace aacchannel;

namespace {

int32_t createChannel(AacChannel** out, const AacChannelContext* ctx) {
  AacChannel* ch = static_cast<AacChannel*>(DEC_CALLOC(1, sizeof(AacChannel)));
  if (!ch) return AAC_ERR_OUT_OF_MEMORY;
  ch->dctLong = decDctCreate(ctx->frameLength);
  ch->dctShort = decDctCreate(ctx->frameLength / 8);
  if (!ch->dctLong || !ch->dctShort) {
    decDctDelete(&ch->dctLong);
    decDctDelete(&ch->dctShort);
    DEC_FREE(ch);
    return AAC_ERR_OUT_OF_MEMORY;
  }
  ch->randomState = 1u;
  *out = ch;
  return 0;
}

void destroyChannel(AacChannel** ch) {
  if (!*ch) return;
  decDctDelete(&(*ch)->dctLong);
  decDctDelete(&(*ch)->dctShort);
  DEC_FREE(*ch);
  *ch = nullptr;
}

}  // namespace

int32_t aacElementCreate(AacElement** element, int32_t type, int32_t tag, const AacChannelContext* ctx) {
  if (ctx->frameLength != 1024 && ctx->frameLength != 960) return AAC_ERR_FRAME_LENGTH;
  AacElement* e = static_cast<AacElement*>(DEC_CALLOC(1, sizeof(AacElement)));
  if (!e) return AAC_ERR_OUT_OF_MEMORY;
  e->type = type;
  e->tag = tag;
  e->channels = type == AAC_ELEM_CPE ? 2 : 1;
  for (int i = 0; i < e->channels; ++i) {
    const int32_t r = createChannel(&e->ch[i], ctx);
    if (r) {
      aacElementDestroy(&e);
      return r;
    }
  }
  *element = e;
  return 0;
}

void aacElementDestroy(AacElement** element) {
  if (!element || !*element) return;
  destroyChannel(&(*element)->ch[0]);
  destroyChannel(&(*element)->ch[1]);
  DEC_FREE(*element);
  *element = nullptr;
}

void aacElementReset(AacElement* e) {
  for (int i = 0; i < 2; ++i)
    if (e->ch[i]) {
      std::memset(e->ch[i]->overlap, 0, sizeof(e->ch[i]->overlap));
      e->ch[i]->prevWindowShape = 0;
      e->ch[i]->prevWindowSequence = 0;
    }
}

int32_t aacDecodeSce(AacElement* e, AacBitstream* bs, AacChannelContext* ctx) {
  AacChannel* ch = e->ch[0];
  int32_t r = readChannelStream(ch, bs, ctx, false, 6144, nullptr);
  if (r) return r == AAC_ERR_PREDICTION || r == AAC_ERR_RESERVED_CODEBOOK || r == AAC_ERR_TNS_ORDER
                     ? r : AAC_ERR_CHANNEL_STREAM;
  noiseSubstitution(ch, nullptr, nullptr);
  if (ch->tns.present) applyTns(ch);
  filterBank(ch, ctx);
  return 0;
}

int32_t aacDecodeCpe(AacElement* e, AacBitstream* bs, AacChannelContext* ctx) {
  AacChannel* l = e->ch[0];
  AacChannel* r = e->ch[1];
  e->commonWindow = rd(bs, 1);
  e->msMaskPresent = 0;
  if (e->commonWindow) {
    const int32_t res = readIcsInfo(&l->ics, bs, ctx);
    if (res == AAC_ERR_PREDICTION) return res;
    if (res) return AAC_ERR_COMMON_ICS;
    r->ics = l->ics;
    e->msMaskPresent = rd(bs, 2);
    readMsUsed(e, bs);
  }
  int32_t used = 0;
  int32_t res = readChannelStream(l, bs, ctx, e->commonWindow != 0, 12288, &used);
  if (!res) res = readChannelStream(r, bs, ctx, e->commonWindow != 0, 12288 - used, nullptr);
  if (res) return res == AAC_ERR_PREDICTION || res == AAC_ERR_RESERVED_CODEBOOK || res == AAC_ERR_TNS_ORDER
                       ? res : AAC_ERR_CHANNEL_STREAM;
  if (e->commonWindow && e->msMaskPresent) midSide(e);
  noiseSubstitution(l, nullptr, nullptr);
  noiseSubstitution(r, e->commonWindow ? l : nullptr, e->commonWindow && e->msMaskPresent ? e->msUsed : nullptr);
  if (e->commonWindow) intensityStereo(e);
  if (l->tns.present) applyTns(l);
  if (r->tns.present) applyTns(r);
  filterBank(l, ctx);
  filterBank(r, ctx);
  return 0;
}

int32_t aacParseCce(AacElement* e, AacBitstream* bs, AacChannelContext* ctx) {
  const int indSw = rd(bs, 1);
  const int numCoupled = rd(bs, 3);
  int numGainLists = 0;
  for (int c = 0; c <= numCoupled; ++c) {
    ++numGainLists;
    const int isCpe = rd(bs, 1);
    rd(bs, 4);  // target tag
    if (isCpe) {
      const int cl = rd(bs, 1), cr = rd(bs, 1);
      if (cl && cr) ++numGainLists;
    }
  }
  rd(bs, 1);  // coupling domain
  rd(bs, 1);  // gain element sign
  rd(bs, 2);  // gain element scale
  AacChannel* ch = e->ch[0];
  const int32_t r = readChannelStream(ch, bs, ctx, false, 6144, nullptr);
  if (r) return AAC_ERR_CHANNEL_STREAM;
  for (int c = 1; c < numGainLists; ++c) {
    const int cge = indSw ? 1 : rd(bs, 1);
    if (cge) {
      aacDecodeHuffman(bs, &kAacScalefactorBook);
    } else {
      for (int g = 0; g < ch->ics.numWindowGroups; ++g)
        for (int s = 0; s < ch->ics.maxSfb; ++s)
          if (ch->sfbCb[g][s] != AAC_ZERO_HCB) aacDecodeHuffman(bs, &kAacScalefactorBook);
    }
  }
  return 0;
}

void aacConcealChannel(AacChannel* ch, const AacChannelContext* ctx) {
  std::memset(ch->spec, 0, sizeof(ch->spec));
  ch->ics.windowSequence = ch->prevWindowSequence;
  ch->ics.windowShape = ch->prevWindowShape;
  setupIcs(&ch->ics, ctx);
  ch->ics.maxSfb = 0;
  ch->tns.present = 0;
  filterBank(ch, ctx);
  std::memset(ch->overlap, 0, sizeof(ch->overlap));
  ch->concealed = 1;
}
