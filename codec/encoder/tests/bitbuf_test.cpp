// The bit buffer (writing, reading, seeks, byte alignment, the access-unit
// queue, element marks) and the CRC register, the CRCs against a bitwise
// Python CRC.
#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bit_buf.h"
#include "crc.h"
#include "encoder_test_util.h"

namespace {

struct BufferDeleter {
  void operator()(bit_buf* b) const { DeleteBitBuffer(b); }
};
using Buffer = std::unique_ptr<bit_buf, BufferDeleter>;

uint32_t lowBits(uint32_t v, int n) { return n >= 32 ? v : (v & ((1u << n) - 1u)); }

// Writes and reads random fields of 0-32 bits, reading as soon as enough is
// written (so reads often hit the word being written) and wrapping the ring
// many times; every field must come back.
TEST(BitBuffer, RandomFieldsRoundTripThroughTheRing) {
  for (int sizeBits : {16, 40, 64, 1000}) {
    SCOPED_TRACE(sizeBits);
    Buffer b(CreateBitBuffer(sizeBits));
    ASSERT_TRUE(b);
    EXPECT_EQ(GetBufferSizeBits(b.get()), (sizeBits + 15) / 16 * 16);
    std::mt19937 rng(static_cast<uint32_t>(sizeBits));
    std::vector<std::pair<uint32_t, int>> pending;
    size_t head = 0;
    int written = 0, read = 0;
    for (int step = 0; step < 20000; ++step) {
      const int n = static_cast<int>(rng() % (std::min(32, GetBufferSizeBits(b.get())) + 1));
      const uint32_t v = rng();
      // Keep the unread bits within the ring.
      while (written - read + n > GetBufferSizeBits(b.get())) {
        const auto& f = pending[head++];
        ASSERT_EQ(ReadBits(b.get(), f.second), lowBits(f.first, f.second)) << "step " << step << " n " << f.second;
        read += f.second;
      }
      EXPECT_EQ(WriteBits(b.get(), v, n), n);
      pending.push_back({v, n});
      written += n;
      EXPECT_EQ(GetBitsAvail(b.get()), written - read);
      if (rng() % 3 == 0) {
        while (head < pending.size()) {
          const auto& f = pending[head++];
          ASSERT_EQ(ReadBits(b.get(), f.second), lowBits(f.first, f.second)) << "step " << step;
          read += f.second;
        }
      }
    }
    EXPECT_EQ(GetWritePosition(b.get()), written % GetBufferSizeBits(b.get()));
    EXPECT_EQ(GetReadPosition(b.get()), read % GetBufferSizeBits(b.get()));
  }
}

TEST(BitBuffer, EdgeCasesOfWritingAndAlignment) {
  Buffer b(CreateBitBuffer(256));
  ASSERT_TRUE(b);
  EXPECT_EQ(WriteBits(b.get(), 0xFFFFFFFF, 0), 0);
  EXPECT_EQ(GetBitsAvail(b.get()), 0);
  EXPECT_EQ(ByteAlign(b.get()), 0);  // aligned: nothing written
  // 32 bits: the high half comes first.
  WriteBits(b.get(), 0x12345678, 32);
  EXPECT_EQ(ReadBits(b.get(), 16), 0x1234u);
  EXPECT_EQ(ReadBits(b.get(), 16), 0x5678u);
  // 20 bits of a value with the top bit set: the high 4 bits are bits 16-19.
  WriteBits(b.get(), 0x800ABCDE, 20);
  EXPECT_EQ(ReadBits(b.get(), 20), 0xABCDEu);
  // Exactly 16 bits fill the cache; they are readable before any further write.
  WriteBits(b.get(), 0xBEEF, 16);
  EXPECT_EQ(ReadBits(b.get(), 16), 0xBEEFu);
  EXPECT_EQ(ByteAlign(b.get()), 4);  // 84 bits so far
  EXPECT_EQ(ReadBits(b.get(), 4), 0u);
  WriteBits(b.get(), 5, 3);
  EXPECT_EQ(ByteAlign(b.get()), 5);
  EXPECT_EQ(GetBitsAvail(b.get()), 8);
  EXPECT_EQ(ReadBits(b.get(), 8), 0xA0u);
  WriteBits(b.get(), 1, 1);
  WriteBits(b.get(), 0, 7);
  EXPECT_EQ(ByteAlign(b.get()), 0);
  // The null buffer only counts.
  EXPECT_EQ(WriteBits(nullptr, 7, 13), 13);
  EXPECT_EQ(ByteAlign(nullptr), 0);
  EXPECT_EQ(CreateBitBuffer(0), nullptr);
}

// Reading right after a write into the word being read sees the new bits.
TEST(BitBuffer, ReadsSeeWritesIntoTheSharedWord) {
  Buffer b(CreateBitBuffer(64));
  WriteBits(b.get(), 0x5, 3);
  EXPECT_EQ(ReadBits(b.get(), 2), 0x2u);
  WriteBits(b.get(), 0x3, 2);  // same word as the read
  EXPECT_EQ(ReadBits(b.get(), 3), 0x7u);
  WriteBits(b.get(), 0x1234, 16);
  EXPECT_EQ(ReadBits(b.get(), 4), 0x1u);
  WriteBits(b.get(), 0xA, 4);
  EXPECT_EQ(ReadBits(b.get(), 16), 0x234Au);
}

// Overwriting earlier bits keeps those around them and the bit count.
TEST(BitBuffer, WriteBitsAtOverwritesInPlace) {
  for (int at : {0, 3, 13, 16, 29, 40}) {
    for (int n : {1, 5, 12, 16, 24}) {
      SCOPED_TRACE(std::to_string(at) + "/" + std::to_string(n));
      Buffer b(CreateBitBuffer(128));
      std::vector<int> bits;
      std::mt19937 rng(static_cast<uint32_t>(at * 100 + n));
      for (int i = 0; i < 75; ++i) {
        bits.push_back(static_cast<int>(rng() & 1));
        WriteBits(b.get(), static_cast<uint32_t>(bits.back()), 1);
      }
      const uint32_t v = rng();
      WriteBitsAt(b.get(), at, v, n);
      for (int i = 0; i < n; ++i) bits[at + i] = static_cast<int>((v >> (n - 1 - i)) & 1);
      EXPECT_EQ(GetBitsAvail(b.get()), 75);
      EXPECT_EQ(GetWritePosition(b.get()), 75);
      WriteBits(b.get(), 1, 1);  // writing goes on where it was
      bits.push_back(1);
      for (size_t i = 0; i < bits.size(); ++i) ASSERT_EQ(ReadBits(b.get(), 1), static_cast<uint32_t>(bits[i])) << i;
    }
  }
}

TEST(BitBuffer, SeeksMoveThePositionsAndTheCounts) {
  Buffer b(CreateBitBuffer(64));
  WriteBits(b.get(), 0xABCD, 16);
  WriteBits(b.get(), 0x12, 8);
  EXPECT_EQ(SeekReadPosition(b.get(), 0), 0);
  EXPECT_EQ(SeekReadPosition(b.get(), 4), 0);
  EXPECT_EQ(GetBitsAvail(b.get()), 20);
  EXPECT_EQ(ReadBits(b.get(), 8), 0xBCu);
  EXPECT_EQ(SeekReadPosition(b.get(), -12), 12);
  EXPECT_EQ(ReadBits(b.get(), 4), 0xAu);
  // Seeking the write position back and writing replaces bits there.
  EXPECT_EQ(SeekWritePosition(b.get(), -8), 24);
  WriteBits(b.get(), 0x34, 8);
  EXPECT_EQ(SeekWritePosition(b.get(), 0), 24);
  EXPECT_EQ(ReadBits(b.get(), 20), 0xBCD34u);
  EXPECT_EQ(GetBitsAvail(b.get()), 0);
  // Negative seeks wrap around the ring.
  Buffer c(CreateBitBuffer(32));
  EXPECT_EQ(SeekWritePosition(c.get(), -1), 0);
  EXPECT_EQ(GetWritePosition(c.get()), 31);
}

TEST(BitBuffer, ReadBytesFromAnyPosition) {
  for (int skip : {0, 1, 8, 11, 16, 24}) {
    SCOPED_TRACE(skip);
    Buffer b(CreateBitBuffer(512));
    std::vector<uint8_t> data(37);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 37 + 11);
    WriteBits(b.get(), 0, skip);
    for (uint8_t d : data) WriteBits(b.get(), d, 8);
    WriteBits(b.get(), 0x5, 3);  // a partial last byte
    ReadBits(b.get(), skip);
    std::vector<uint8_t> got(data.size() + 2, 0xEE);
    ReadBytes(b.get(), got.data(), static_cast<int32_t>(got.size()));
    for (size_t i = 0; i < data.size(); ++i) ASSERT_EQ(got[i], data[i]) << i;
    EXPECT_EQ(got[data.size()], 0xA0);
    EXPECT_EQ(got[data.size() + 1], 0x00);
  }
}

TEST(BitBuffer, AccessUnitQueue) {
  Buffer b(CreateBitBuffer(64));
  int32_t bits = -1;
  CodecError* e = DecAuReady(b.get(), &bits);
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->message, "Access Unit Buffer Underflow in DecAuReady");
  deleteError(e);
  for (int i = 0; i < kBitBufReadyQueue; ++i) ASSERT_EQ(IncAuReady(b.get(), i * 8), nullptr);
  e = IncAuReady(b.get(), 1);
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->message, "Access Unit Buffer Overflow in IncAuReady");
  deleteError(e);
  e = IncAuReady(nullptr, 1);
  EXPECT_NE(e, nullptr);
  deleteError(e);
  EXPECT_EQ(GetAuReadyCount(b.get()), kBitBufReadyQueue);
  for (int i = 0; i < kBitBufReadyQueue; ++i) {
    ASSERT_EQ(DecAuReady(b.get(), &bits), nullptr);
    EXPECT_EQ(bits, i * 8);
  }
  EXPECT_EQ(GetAuReadyCount(b.get()), 0);
}

TEST(BitBuffer, ElementMarks) {
  Buffer b(CreateBitBuffer(256));
  // Without several marks every mark takes entry 0.
  EXPECT_EQ(SetElementMark(b.get(), kMarkSce), 0);
  EXPECT_EQ(SetElementMark(b.get(), kMarkCpe), 0);
  EnableElementMarks(b.get(), 1);
  ResetElementMarks(b.get());
  WriteBits(b.get(), 0, 5);
  for (int i = 0; i < kBitBufMarks - 1; ++i) ASSERT_EQ(SetElementMark(b.get(), kMarkSce), i);
  EXPECT_EQ(b->marks[3].start, 5);
  // Entry 29 stays free: it ends the walk of the CRC pass.
  EXPECT_EQ(SetElementMark(b.get(), kMarkSce), -1);
  EXPECT_EQ(b->marks[kBitBufMarks - 1].kind, kElementMarkFree);
}

struct CrcCase {
  int length, a, b;
  uint32_t whole, marked, eight;
  std::vector<int> bits;
};

std::vector<CrcCase> crcCases() {
  std::vector<CrcCase> cases;
  for (const std::string& line : readLines(fixturePath("crc_cases.txt"))) {
    std::istringstream in(line);
    CrcCase c;
    std::string text;
    in >> c.length >> c.a >> c.b >> c.whole >> c.marked >> c.eight >> text;
    if (text != "-")
      for (char ch : text) c.bits.push_back(ch == '1');
    cases.push_back(c);
  }
  return cases;
}

TEST(Crc, TableAndBitwiseUpdatesMatchPython) {
  const std::vector<CrcCase> cases = crcCases();
  ASSERT_FALSE(cases.empty()) << "missing fixture crc_cases.txt";
  for (const CrcCase& c : cases) {
    SCOPED_TRACE("length " + std::to_string(c.length));
    crc* bitwise = nullptr;
    ASSERT_EQ(CreateCrc(&bitwise, 0x8005, 0xFFFF), nullptr);
    EXPECT_EQ(bitwise->value, 0);
    ResetCrc(bitwise);
    crc bytewise;
    InitCrc(0x8005, 0xFFFF, &bytewise);
    ResetCrc(&bytewise);
    size_t i = 0;
    for (; i + 8 <= c.bits.size(); i += 8) {
      uint32_t byte = 0;
      for (int k = 0; k < 8; ++k) byte = (byte << 1) | static_cast<uint32_t>(c.bits[i + k]);
      UpdateCrcByte(&bytewise, static_cast<uint8_t>(byte));
    }
    for (; i < c.bits.size(); ++i) UpdateCrcBits(&bytewise, static_cast<uint32_t>(c.bits[i]), 1);
    for (int bit : c.bits) UpdateCrcBits(bitwise, static_cast<uint32_t>(bit), 1);
    EXPECT_EQ(bitwise->value, c.whole);
    EXPECT_EQ(bytewise.value, c.whole);
    DeleteCrc(bitwise);
  }
}

// Three marked ranges (ADTS header, single channel element, second channel
// stream) in a buffer written in random-sized fields: the CRC pass must equal
// the CRC of the ranges cut or padded as the ADTS CRC protects them.
TEST(Crc, OverElementMarksMatchesPython) {
  const std::vector<CrcCase> cases = crcCases();
  ASSERT_FALSE(cases.empty());
  std::mt19937 rng(7);
  for (const CrcCase& c : cases) {
    SCOPED_TRACE("length " + std::to_string(c.length) + " split " + std::to_string(c.a) + "/" + std::to_string(c.b));
    Buffer b(CreateBitBuffer(4200));
    EnableElementMarks(b.get(), 1);
    ResetElementMarks(b.get());
    const int lead = static_cast<int>(rng() % 33);  // marks need not start at 0
    WriteBits(b.get(), 0x1F, lead);
    ReadBits(b.get(), lead / 2);
    int entry = -1;
    size_t i = 0;
    auto writeUpTo = [&](size_t end) {
      while (i < end) {
        const size_t n = std::min<size_t>(end - i, 1 + rng() % 32);
        uint32_t v = 0;
        for (size_t k = 0; k < n; ++k) v = (v << 1) | static_cast<uint32_t>(c.bits[i + k]);
        WriteBits(b.get(), v, static_cast<int32_t>(n));
        i += n;
      }
    };
    entry = SetElementMark(b.get(), kMarkAdtsHeader);
    writeUpTo(static_cast<size_t>(c.a));
    SetElementMarkEnd(b.get(), entry);
    entry = SetElementMark(b.get(), kMarkSce);
    writeUpTo(static_cast<size_t>(c.b));
    SetElementMarkEnd(b.get(), entry);
    entry = SetElementMark(b.get(), kMarkCpeSecond);
    writeUpTo(c.bits.size());
    SetElementMarkEnd(b.get(), entry);
    const int32_t avail = GetBitsAvail(b.get());
    const int32_t readPos = GetReadPosition(b.get());
    crc reg;
    InitCrc(0x8005, 0xFFFF, &reg);
    ResetCrc(&reg);
    EXPECT_EQ(CrcOverElementMarks(b.get(), &reg), c.marked);
    EXPECT_EQ(GetBitsAvail(b.get()), avail);
    EXPECT_EQ(GetReadPosition(b.get()), readPos);
    // A whole-range mark over everything gives the plain CRC.
    ResetElementMarks(b.get());
    b->marks[0] = {kMarkWhole, b->marks[0].start, GetWritePosition(b.get())};
    b->marks[0].start = lead;
    ResetCrc(&reg);
    EXPECT_EQ(CrcOverElementMarks(b.get(), &reg), c.whole);
    // The 8-bit CRC read straight from the buffer.
    SeekReadPosition(b.get(), lead - readPos);
    EXPECT_EQ(CrcFromBufferBits(0, 7, 128, c.length, b.get()), c.eight);
  }
}

}  // namespace
