// The time buffer: delay, wrapping writes with the mirrored tail, contiguous
// reads across the ring end, null channels, gain, and refused arguments.
#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <string>
#include <vector>

#include "timebuffer.h"

namespace {

struct Ring {
  TimeBuffer* b = nullptr;
  Ring(int32_t length, int32_t extra, int32_t channels, int32_t delay) {
    EXPECT_EQ(CreateTimeBuffer(&b, length, extra, channels, delay), 0);
  }
  ~Ring() { DeleteTimeBuffer(&b); }
};

// Random writes and reads against a queue of the frames that went in: every
// read of up to `extra` frames from the read position is contiguous and
// equals the queue, and the tail always mirrors the ring's first frames.
TEST(TimeBuffer, RandomWritesAndReadsAgainstAQueue) {
  for (int channels : {1, 2}) {
    for (int32_t delay : {0, 5, 600}) {
      SCOPED_TRACE("channels " + std::to_string(channels) + " delay " + std::to_string(delay));
      const int32_t length = 1000, extra = 300;
      Ring r(length, extra, channels, delay);
      ASSERT_NE(r.b, nullptr);
      std::deque<std::vector<float>> queue;
      for (int32_t i = 0; i < delay; ++i) queue.push_back(std::vector<float>(channels, 0.0f));
      std::mt19937 rng(static_cast<uint32_t>(channels * 1000 + delay));
      float next = 1.0f;
      for (int step = 0; step < 3000; ++step) {
        const int32_t room = length - static_cast<int32_t>(queue.size());
        const int32_t n = room > 0 ? static_cast<int32_t>(rng() % (room + 1)) : 0;
        // Interleaved input of three floats per frame (stride 3); two
        // channels are written at gain 0.5, one at gain 1.
        const float gain = channels == 2 ? 0.5f : 1.0f;
        std::vector<float> input(static_cast<size_t>(n) * 3);
        for (int32_t i = 0; i < n; ++i) {
          input[i * 3] = next;
          input[i * 3 + 1] = -next;
          std::vector<float> frame{gain * next};
          if (channels == 2) frame.push_back(-gain * next);
          queue.push_back(frame);
          next += 1.0f;
        }
        ASSERT_EQ(WriteTimeBuffer(r.b, input.data(), channels == 2 ? input.data() + 1 : nullptr, 3, gain, n), 0);
        for (int32_t i = 0; i < extra; ++i)
          for (int c = 0; c < channels; ++c)
            ASSERT_EQ(r.b->data[(length + i) * channels + c], r.b->data[i * channels + c]) << "mirror frame " << i;
        const int32_t take = std::min<int32_t>(static_cast<int32_t>(rng() % (extra + 1)), static_cast<int32_t>(queue.size()));
        for (int c = 0; c < channels; ++c) {
          const float* p = GetTimeBufferPtr(r.b, 0, c);
          for (int32_t i = 0; i < take; ++i) ASSERT_EQ(p[i * channels], queue[i][c]) << "step " << step << " frame " << i;
        }
        AdvanceTimeBuffer(r.b, take);
        for (int32_t i = 0; i < take; ++i) queue.pop_front();
      }
    }
  }
}

TEST(TimeBuffer, DelayNullChannelsAndWrapping) {
  Ring r(64, 16, 2, 10);
  std::vector<float> ramp(40);
  for (int i = 0; i < 40; ++i) ramp[i] = static_cast<float>(i + 1);
  ASSERT_EQ(WriteTimeBuffer(r.b, ramp.data(), nullptr, 1, 2.0f, 40), 0);
  const float* left = GetTimeBufferPtr(r.b, 0, 0);
  const float* right = GetTimeBufferPtr(r.b, 0, 1);
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(left[2 * i], i < 10 ? 0.0f : 2.0f * (i - 9)) << i;
    EXPECT_EQ(right[2 * i], 0.0f) << i;
  }
  // Exactly up to the ring end: the write position wraps to 0 and the ring
  // start is untouched.
  r.b->data[0] = 123.0f;
  ASSERT_EQ(WriteTimeBuffer(r.b, ramp.data(), ramp.data(), 1, 1.0f, 14), 0);
  EXPECT_EQ(r.b->writePos, 0);
  EXPECT_EQ(r.b->data[0], 123.0f);
  EXPECT_EQ(GetTimeBufferPtr(r.b, 63, 1)[0], 14.0f);
  EXPECT_EQ(GetTimeBufferPtr(r.b, 64, 0), GetTimeBufferPtr(r.b, 0, 0));
  EXPECT_EQ(GetTimeBufferPtr(r.b, -1, 0), GetTimeBufferPtr(r.b, 63, 0));
  EXPECT_EQ(GetTimeBufferPtr(r.b, 0, 2), nullptr);
  EXPECT_EQ(GetTimeBufferPtr(nullptr, 0, 0), nullptr);
  // More frames than the ring holds: refused, nothing written.
  std::vector<float> big(65, 9.0f);
  const std::vector<float> before(r.b->data, r.b->data + (64 + 16) * 2);
  EXPECT_EQ(WriteTimeBuffer(r.b, big.data(), big.data(), 1, 1.0f, 65), 1);
  EXPECT_EQ(WriteTimeBuffer(r.b, big.data(), big.data(), 1, 1.0f, -1), 1);
  EXPECT_EQ(std::vector<float>(r.b->data, r.b->data + (64 + 16) * 2), before);
  // The mono form: refused on a two-channel ring.
  EXPECT_EQ(WriteTimeBufferMono(r.b, big.data(), 1.0f, 4), 1);
  EXPECT_EQ(WriteTimeBufferMono(r.b, big.data(), 1.0f, 65), 2);
  Ring m(8, 4, 1, 0);
  EXPECT_EQ(WriteTimeBufferMono(m.b, big.data(), 0.5f, 10), 1);
  EXPECT_EQ(WriteTimeBufferMono(m.b, ramp.data(), 0.5f, 6), 0);
  EXPECT_EQ(WriteTimeBufferMono(m.b, nullptr, 1.0f, 4), 0);  // zeros, wrapping
  const float* p = GetTimeBufferPtr(m.b, 0, 0);
  const float want[12] = {0, 0, 1.5f, 2, 2.5f, 3, 0, 0, 0, 0, 1.5f, 2};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(p[i], want[i]) << i;
}

TEST(TimeBuffer, RefusedShapes) {
  struct Case {
    int32_t length, extra, channels, delay;
  } cases[] = {{0, 0, 1, 0}, {-1, 0, 1, 0}, {16, -1, 1, 0}, {16, 0, 1, -1}, {16, 0, 1, 16},
               {16, 17, 1, 0}, {16, 4, 0, 0}, {16, 4, 3, 0}};
  for (const Case& c : cases) {
    TimeBuffer* b = reinterpret_cast<TimeBuffer*>(1);
    EXPECT_NE(CreateTimeBuffer(&b, c.length, c.extra, c.channels, c.delay), 0)
        << c.length << " " << c.extra << " " << c.channels << " " << c.delay;
    EXPECT_EQ(b, nullptr);
  }
  TimeBuffer* none = nullptr;
  DeleteTimeBuffer(&none);
  DeleteTimeBuffer(nullptr);
}

}  // namespace
