// The gamma curve: the published BT.709 transfer (numpy), continuity and
// inverse pairs for other exponents, and the float and byte tables.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "image_test_util.h"
#include "kvgammacurve.h"
#include "vog_tools.h"

using kvimagetest::ReadTable;

namespace {

TEST(GammaCurve, Bt709ParametersAndCurve) {
  KvGammaCurve enc(0.45f);
  EXPECT_NEAR(enc.breakpoint, 0.018, 1e-6);
  EXPECT_NEAR(enc.slope, 4.5, 1e-5);
  EXPECT_NEAR(enc.offset, 0.099, 5e-4);  // the published value is 0.099 rounded
  EXPECT_EQ(enc.encode, 1u);
  EXPECT_NEAR(enc.Evaluate(0.01f), 0.045f, 1e-6);
  EXPECT_NEAR(enc.Evaluate(1.0f), 1.0f, 1e-6);
  KvGammaCurve dec(1.0f / 0.45f);
  EXPECT_NEAR(dec.breakpoint, 0.081, 1e-6);
  EXPECT_NEAR(dec.slope, 1.0 / 4.5, 1e-6);
  EXPECT_EQ(dec.encode, 0u);
  EXPECT_NEAR(dec.invScale, 1.0 / (1.0 + dec.offset), 1e-7);

  auto rows = ReadTable("image/gamma709.txt", 3);
  if (rows.empty()) VOG_TOOL_MISSING("ffmpeg/Pillow/numpy") << "fixture missing";
  double worstEnc = 0, worstDec = 0;
  for (const auto& r : rows) {
    worstEnc = std::fmax(worstEnc, std::fabs(enc.Evaluate(float(r[0])) - r[1]));
    worstDec = std::fmax(worstDec, std::fabs(dec.Evaluate(float(r[0])) - r[2]));
  }
  // The curves differ from the published rounded constants by their offset.
  EXPECT_LT(worstEnc, 1e-3);
  EXPECT_LT(worstDec, 1e-3);
}

// For every exponent the two pieces meet at the breakpoint, the curve is
// odd-symmetric and maps 1 to 1, and the curves of g and 1/g undo each other.
TEST(GammaCurve, PiecesMeetAndInversesCompose) {
  for (float g : {0.3f, 0.45f, 0.5f, 0.8f, 0.95f, 1.05f, 1.8f, 2.2f, 2.6f, 3.9f}) {
    KvGammaCurve c(g), inv(1.0f / g);
    const float b = c.breakpoint;
    EXPECT_NEAR(c.Evaluate(std::nextafter(b, 0.0f)), c.Evaluate(b), 2e-5) << g;
    EXPECT_NEAR(c.Evaluate(1.0f), 1.0f, 2e-6) << g;
    for (float x : {0.0f, 0.001f, 0.02f, 0.3f, 0.77f, 1.0f, 1.7f}) {
      EXPECT_EQ(c.Evaluate(-x), -c.Evaluate(x)) << g << " " << x;
      EXPECT_NEAR(inv.Evaluate(c.Evaluate(x)), x, 2e-3 * std::fmax(1.0f, x)) << "g " << g << " x " << x;
    }
  }
}

TEST(GammaCurve, IdentityAndBadExponents) {
  KvGammaCurve c;
  EXPECT_EQ(c.gamma, 1.0f);
  EXPECT_EQ(c.breakpoint, 26.0f);
  EXPECT_EQ(c.offset, 0.0f);
  EXPECT_EQ(c.Evaluate(0.5f), 0.5f);
  EXPECT_EQ(c.Evaluate(-25.0f), -25.0f);
  c.SetGamma(0.45f);
  c.SetGamma(1.0f);
  EXPECT_EQ(c.Evaluate(0.5f), 0.5f);
  // An exponent that is no positive number describes no curve: the identity.
  for (float g : {0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
    c.SetGamma(g);
    EXPECT_EQ(c.gamma, 1.0f) << g;
    EXPECT_EQ(c.Evaluate(0.25f), 0.25f) << g;
  }
}

TEST(GammaCurve, FloatTable) {
  KvGammaCurve c(0.45f);
  ASSERT_TRUE(c.BuildFloatTable(256));
  ASSERT_NE(c.floatTable, nullptr);
  EXPECT_EQ(c.lastIndex, 255);
  for (int i = 0; i <= 256; ++i) EXPECT_EQ(c.floatTable[i], c.Evaluate(float(double(i) / 255))) << i;
  EXPECT_GT(c.floatTable[256], 1.0f);
  // Interpolated lookups stay within the curve's curvature between entries.
  double worst = 0;
  for (int k = 0; k <= 10000; ++k) {
    const float x = k / 10000.0f;
    worst = std::fmax(worst, std::fabs(c.Lookup(x) - c.Evaluate(x)));
  }
  EXPECT_LT(worst, 2e-3);
  EXPECT_EQ(c.Lookup(0.0f), c.Evaluate(0.0f));
  EXPECT_NEAR(c.Lookup(1.0f), c.Evaluate(1.0f), 1e-6);
  // Outside 0..1 the table is bypassed; NaN gives 0.
  EXPECT_EQ(c.Lookup(1.5f), c.Evaluate(1.5f));
  EXPECT_EQ(c.Lookup(-0.5f), c.Evaluate(-0.5f));
  EXPECT_EQ(c.Lookup(std::numeric_limits<float>::quiet_NaN()), 0.0f);
  // A new exponent drops the tables.
  c.SetGamma(2.2f);
  EXPECT_EQ(c.floatTable, nullptr);
}

TEST(GammaCurve, ByteTable) {
  KvGammaCurve c(1.0f / 0.45f);
  ASSERT_TRUE(c.BuildByteTable(1024));
  ASSERT_NE(c.byteTable, nullptr);
  EXPECT_EQ(c.floatTable, nullptr);
  EXPECT_EQ(c.lastIndex, 1023);
  for (int i = 0; i < 1024; ++i) {
    const double want = std::nearbyint(255.0 * c.Evaluate(float(double(i) / 1023)));
    ASSERT_EQ(c.byteTable[i], want) << i;
    ASSERT_EQ(c.LookupByte(float(double(i) / 1023)), want) << i;
  }
  EXPECT_EQ(c.LookupByte(0.0f), 0);
  EXPECT_EQ(c.LookupByte(1.0f), 255);
  EXPECT_EQ(c.LookupByte(1.01f), 255);
  EXPECT_EQ(c.LookupByte(-0.2f), 0);
  EXPECT_EQ(c.LookupByte(std::numeric_limits<float>::quiet_NaN()), 0);
}

// Tables need at least two steps; lookups without a table use the exact curve
// instead of reading a missing table.
TEST(GammaCurve, NoTable) {
  KvGammaCurve c(0.45f);
  EXPECT_FALSE(c.BuildFloatTable(1));
  EXPECT_FALSE(c.BuildByteTable(0));
  EXPECT_FALSE(c.BuildFloatTable(-5));
  EXPECT_EQ(c.floatTable, nullptr);
  EXPECT_EQ(c.byteTable, nullptr);
  EXPECT_EQ(c.Lookup(0.3f), c.Evaluate(0.3f));
  EXPECT_EQ(c.LookupByte(1.0f), 255);
  EXPECT_EQ(c.LookupByte(0.5f), std::nearbyint(255.0 * c.Evaluate(0.5f)));
  ASSERT_TRUE(c.BuildFloatTable(2));
  EXPECT_EQ(c.floatTable[2], c.Evaluate(2.0f));
}

}  // namespace
