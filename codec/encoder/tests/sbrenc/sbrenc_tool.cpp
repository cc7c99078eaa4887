// sbrenc_tool: runs the SBR analysis estimators on raw float files, for
// checks by numpy.
//   sbrenc_tool quotas IN.f32 OUT.f32
//     IN: 34 QMF slots (2 in front of the frame, then 32) x 64 bands x (re, im);
//     OUT: per estimate (2) and band (64): quota, sign, then per estimate the
//     row energy.
//   sbrenc_tool transients IN.f32 FRAMES SCALE
//     IN: FRAMES x 32 slots x 64 bands of energies; prints one line per
//     frame: "frame F found P split S".
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ton_corr.h"
#include "tran_det.h"

namespace {

constexpr int kSlots = 32;
constexpr int kBands = 64;

std::vector<float> readAll(const char* path) {
  std::vector<float> v;
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return v;
  float buf[4096];
  size_t got;
  while ((got = std::fread(buf, sizeof(float), 4096, f)) > 0) v.insert(v.end(), buf, buf + got);
  std::fclose(f);
  return v;
}

int quotas(const char* in, const char* out) {
  std::vector<float> v = readAll(in);
  if (v.size() != static_cast<size_t>((kSlots + 2) * kBands * 2)) return 3;
  std::vector<std::vector<float>> re(kSlots + 2, std::vector<float>(kBands)), im = re;
  std::vector<float*> pr(kSlots + 2), pi(kSlots + 2);
  for (int t = 0; t < kSlots + 2; ++t) {
    for (int b = 0; b < kBands; ++b) {
      re[t][b] = v[(static_cast<size_t>(t) * kBands + b) * 2];
      im[t][b] = v[(static_cast<size_t>(t) * kBands + b) * 2 + 1];
    }
    pr[t] = re[t].data();
    pi[t] = im[t].data();
  }
  const int master[] = {32, 40, 48, 56, 64};
  const int low[] = {32, 48, 64};
  const int* tables[2] = {low, master};
  const int counts[2] = {2, 4};
  HANDLE_TON_CORR h = nullptr;
  CodecError* e = CreateTonCorrParamExtr(&h, 1, 0, kSlots, 1, 44100, kBands, 0, 32, master, 4, 0, tables,
                                         counts, 0, 0, 0, 0, 0);
  if (e != nullptr) {
    deleteError(e);
    return 1;
  }
  // Every band is measured: the high-resolution table ends at band 64.
  tonCorrCalcQuotas(h, pr.data() + 2, pi.data() + 2, 1);
  std::vector<float> o;
  for (int r = h->startIndexMatrix; r < h->bufferLength; ++r)
    for (int b = 0; b < kBands; ++b) {
      o.push_back(h->quotaMatrix[r][b]);
      o.push_back(static_cast<float>(h->signMatrix[r][b]));
    }
  for (int r = h->startIndexMatrix; r < h->bufferLength; ++r) o.push_back(h->nrgVector[r]);
  tonCorrDelete(h, 0);
  FILE* f = std::fopen(out, "wb");
  if (f == nullptr) return 3;
  bool ok = std::fwrite(o.data(), sizeof(float), o.size(), f) == o.size();
  return std::fclose(f) == 0 && ok ? 0 : 3;
}

int transients(const char* in, int frames, int scale) {
  std::vector<float> v = readAll(in);
  if (frames < 1 || v.size() != static_cast<size_t>(frames) * kSlots * kBands) return 3;
  const int lookBack = 8;
  const int rows = kSlots + lookBack + 3;
  HANDLE_SBR_TRANSIENT_DETECTOR h = nullptr;
  CodecError* e = tranDetCreate(&h, 2048, 44100, 1.0f, 13000.0f, kBands, 1.5f, kSlots, kSlots, lookBack, rows);
  if (e != nullptr) {
    deleteError(e);
    return 1;
  }
  // The energy buffer: slot s of the stream sits at row s - (frame start) +
  // lookBack; rows outside the stream are 0.
  std::vector<std::vector<float>> buf(rows, std::vector<float>(kBands));
  std::vector<float*> p(rows);
  const int split[] = {32, 40, 48, 56, 64};
  for (int fr = 0; fr < frames; ++fr) {
    for (int r = 0; r < rows; ++r) {
      long s = static_cast<long>(fr) * kSlots + r - lookBack;
      for (int b = 0; b < kBands; ++b)
        buf[r][b] = s >= 0 && s < static_cast<long>(frames) * kSlots ? v[static_cast<size_t>(s) * kBands + b] : 0.0f;
      p[r] = buf[r].data();
    }
    int result[2] = {0, 0};
    tranDetDetect(p.data(), h, result, 1, scale);
    bool found = result[1] == 1;
    int pos = result[0];
    tranDetSplitFrame(p.data(), h, split, 4, 2, kSlots, result, scale);
    std::printf("frame %d found %d pos %d split %d\n", fr, found ? 1 : 0, found ? pos : -1, found ? 0 : result[0]);
  }
  tranDetDelete(h);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "quotas") == 0) return quotas(argv[2], argv[3]);
  if (argc == 5 && std::strcmp(argv[1], "transients") == 0)
    return transients(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
  std::fprintf(stderr, "usage: sbrenc_tool quotas IN OUT | transients IN FRAMES SCALE\n");
  return 2;
}
