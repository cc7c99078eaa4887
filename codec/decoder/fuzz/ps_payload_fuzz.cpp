// libFuzzer target of the parametric-stereo parser on its own: the input is a
// sequence of ps_data() blocks, each a 1-byte length followed by that many
// bytes. Each block is parsed, its parameters decoded when it was valid, and
// one frame of slots is processed, so that every index the parser lets
// through is used.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "psdec.h"
#include "sbr_int.h"

namespace {

// QMF matrices of the frame's slots plus the 6 slots read after them.
struct Slots {
  static constexpr int kRows = SBR_MAX_SLOTS + SBR_HF_ADJ + 6;
  std::vector<float> store[4];
  std::vector<float*> rows[4];
  Slots() {
    for (int m = 0; m < 4; ++m) {
      store[m].assign(size_t(kRows) * QMF_CHANNELS, 0.0f);
      for (int r = 0; r < kRows; ++r) rows[m].push_back(store[m].data() + size_t(r) * QMF_CHANNELS);
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int slotsPerFrame = (data[0] & 1) ? 30 : 32;
  PsDec* ps = nullptr;
  if (psDecoderCreate(&ps, QMF_CHANNELS, slotsPerFrame)) std::abort();
  Slots s;
  size_t pos = 1;
  int frames = 0;
  while (pos < size && frames < 32) {
    const size_t len = data[pos++];
    const size_t n = len < size - pos ? len : size - pos;
    SbrBitReader br;
    sbrBitInit(&br, data + pos, int(n));
    const int bits = int(n) * 8;
    const int used = psReadData(ps, &br, bits);
    if (used < 0 || used > bits) std::abort();
    const int fresh = psHasNewData(ps);
    if (fresh) psDecodeParameters(ps);
    for (int r = 0; r < Slots::kRows; ++r)
      for (int k = 0; k < QMF_CHANNELS; ++k) {
        s.rows[0][size_t(r)][k] = float(((r * 31 + k * 17 + frames) % 101) - 50);
        s.rows[1][size_t(r)][k] = float(((r * 13 + k * 29 + frames) % 97) - 48);
      }
    psApply(ps, !fresh, s.rows[0].data(), s.rows[1].data(), s.rows[2].data(), s.rows[3].data(), SBR_HF_ADJ);
    for (int m = 0; m < 4; ++m)
      for (float v : s.store[m])
        if (!std::isfinite(v)) std::abort();
    pos += n;
    ++frames;
  }
  psDecoderDelete(&ps);
  return 0;
}
