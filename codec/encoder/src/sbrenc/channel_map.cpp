// The channel elements of an encoder channel mode.
#include "channel_map.h"

#include <cstdlib>

namespace {

// Bit weights of the core encoder: four per channel, one for the
// low-frequency channel.
constexpr int32_t kChannelWeight = 4;
constexpr int32_t kLfeWeight = 1;

struct ModeLayout {
  int32_t mode, channels, variant;
};
const ModeLayout kModes[] = {{1, 1, 0},   {2, 2, 0},   {3, 3, 0},   {4, 4, 0},   {5, 5, 0},  {6, 6, 0},
                             {7, 8, 0},   {16, 2, 1},  {17, 4, 1},  {18, 6, 1},  {19, 8, 1}, {20, 12, 1},
                             {21, 4, 2},  {22, 6, 2},  {23, 8, 2},  {24, 12, 2}};

}  // namespace

CodecError* DetermineEncoderMode(int32_t* mode, int32_t channels, int32_t variant) {
  if (!mode) return createError(__FILE__, __LINE__, __func__, "Null mode");
  *mode = 0;
  for (const ModeLayout& m : kModes) {
    if (m.channels == channels && m.variant == variant) {
      *mode = m.mode;
      return nullptr;
    }
  }
  return createError(__FILE__, __LINE__, __func__, "No mode for %d channels in variant %d", channels, variant);
}

CodecError* InitChannelMapping(int32_t mode, ChannelMapping** mapping, int32_t flags) {
  if (!mapping) return createError(__FILE__, __LINE__, __func__, "Null mapping");
  *mapping = nullptr;
  const ModeLayout* layout = nullptr;
  for (const ModeLayout& m : kModes)
    if (m.mode == mode) layout = &m;
  if (!layout || flags != 0) return createError(__FILE__, __LINE__, __func__, "Invalid channel mode %d", mode);
  int32_t types[12];
  int32_t n = 0;
  const int32_t ch = layout->channels;
  if (layout->variant == 1) {
    for (int32_t i = 0; i < ch; ++i) types[n++] = kChannelElementSce;
  } else if (layout->variant == 2) {
    for (int32_t i = 0; i < ch / 2; ++i) types[n++] = kChannelElementCpe;
  } else {
    static const int32_t kFirst[9] = {0, 1, 0, 1, 1, 1, 1, 0, 1};
    static const int32_t kPairs[9] = {0, 0, 1, 1, 1, 2, 2, 0, 3};
    static const int32_t kTrailingSce[9] = {0, 0, 0, 0, 1, 0, 0, 0, 0};
    static const int32_t kLfe[9] = {0, 0, 0, 0, 0, 0, 1, 0, 1};
    if (kFirst[ch]) types[n++] = kChannelElementSce;
    for (int32_t i = 0; i < kPairs[ch]; ++i) types[n++] = kChannelElementCpe;
    if (kTrailingSce[ch]) types[n++] = kChannelElementSce;
    if (kLfe[ch]) types[n++] = kChannelElementLfe;
  }
  ChannelMapping* m = static_cast<ChannelMapping*>(std::calloc(1, sizeof(ChannelMapping)));
  if (!m) return createError(__FILE__, __LINE__, __func__, "Calloc failed");
  int32_t total = 0, channel = 0;
  for (int32_t i = 0; i < n; ++i) total += types[i] == kChannelElementLfe ? kLfeWeight : kChannelWeight * (types[i] + 1);
  for (int32_t i = 0; i < n; ++i) {
    ChannelElement& e = m->elements[i];
    e.type = types[i];
    e.channels = types[i] == kChannelElementCpe ? 2 : 1;
    e.share = static_cast<float>(types[i] == kChannelElementLfe ? kLfeWeight : kChannelWeight * e.channels) /
              static_cast<float>(total);
    e.first = channel;
    e.second = e.channels == 2 ? channel + 1 : channel;
    channel += e.channels;
  }
  m->channels = channel;
  m->count = n;
  *mapping = m;
  return nullptr;
}

int SetChannelOrder(ChannelMapping* mapping, const int32_t* order) {
  if (!mapping || !order) return 1;
  uint32_t seen = 0;
  for (int32_t i = 0; i < mapping->channels; ++i) {
    if (order[i] < 0 || order[i] >= mapping->channels || ((seen >> order[i]) & 1u)) return 1;
    seen |= 1u << order[i];
  }
  int32_t channel = 0;
  for (int32_t i = 0; i < mapping->count; ++i) {
    ChannelElement& e = mapping->elements[i];
    e.first = order[channel];
    e.second = e.channels == 2 ? order[channel + 1] : e.first;
    channel += e.channels;
  }
  return 0;
}

void DeleteChannelMapping(ChannelMapping* mapping) { std::free(mapping); }
