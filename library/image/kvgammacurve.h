// A power-law transfer curve with a linear segment near zero (the shape of
// the ITU-R BT.709 curve, for any exponent), evaluated exactly or looked up
// through a precomputed float or byte table.
#pragma once

#include <cstdint>

class KvGammaCurve {
 public:
  KvGammaCurve();
  explicit KvGammaCurve(float gamma);
  ~KvGammaCurve();
  KvGammaCurve(const KvGammaCurve&) = delete;
  KvGammaCurve& operator=(const KvGammaCurve&) = delete;

  // Frees the tables and recomputes the curve for exponent g. An exponent
  // that is not a positive number gives the identity curve.
  void SetGamma(float g);
  // The exact curve (odd-symmetric around 0).
  float Evaluate(float x) const;
  // Tables of steps + 1 entries at i / (steps - 1); false (and no table) when
  // steps is below 2 or memory is short.
  bool BuildFloatTable(int32_t steps);
  bool BuildByteTable(int32_t steps);
  // Interpolated table lookup; outside 0..1 (or without a table) the exact
  // curve; NaN gives 0.
  float Lookup(float x) const;
  // Nearest byte-table entry: NaN and negative inputs give 0, above 1 gives
  // 255; without a table the exact curve, rounded.
  uint8_t LookupByte(float x) const;
  void FreeTables();

  float gamma;        // the exponent
  float breakpoint;   // end of the linear segment (input units)
  float offset;       // the curve's offset a
  float invScale;     // 1 / (1 + a), for exponents above 1
  float slope;        // slope of the linear segment
  uint32_t encode;    // 1 for exponents at most 1, 0 above 1
  int32_t lastIndex;  // table steps - 1
  float* floatTable;  // steps + 1 floats, or null
  uint8_t* byteTable; // steps + 1 bytes, or null
};

#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(KvGammaCurve) == 36, "the curve is nine 32-bit words in the exchange context");
#endif
