// Every SBR and PS codeword of the standard decodes through our trees to its
// value with exact bit use; the bit reader never reads past its payload.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "sbr_int.h"
#include "sbr_tables.h"
#include "test_util.h"

namespace {

const std::map<std::string, sbrtab::HuffTree>& trees() {
  static const std::map<std::string, sbrtab::HuffTree> m = {
      {"t_huffman_env_1_5dB", sbrtab::sbrHuff_t_huffman_env_1_5dB},
      {"f_huffman_env_1_5dB", sbrtab::sbrHuff_f_huffman_env_1_5dB},
      {"t_huffman_env_bal_1_5dB", sbrtab::sbrHuff_t_huffman_env_bal_1_5dB},
      {"f_huffman_env_bal_1_5dB", sbrtab::sbrHuff_f_huffman_env_bal_1_5dB},
      {"t_huffman_env_3_0dB", sbrtab::sbrHuff_t_huffman_env_3_0dB},
      {"f_huffman_env_3_0dB", sbrtab::sbrHuff_f_huffman_env_3_0dB},
      {"t_huffman_env_bal_3_0dB", sbrtab::sbrHuff_t_huffman_env_bal_3_0dB},
      {"f_huffman_env_bal_3_0dB", sbrtab::sbrHuff_f_huffman_env_bal_3_0dB},
      {"t_huffman_noise_3_0dB", sbrtab::sbrHuff_t_huffman_noise_3_0dB},
      {"t_huffman_noise_bal_3_0dB", sbrtab::sbrHuff_t_huffman_noise_bal_3_0dB},
      {"iid_df_normal", sbrtab::psHuff_iid_df_normal},
      {"iid_dt_normal", sbrtab::psHuff_iid_dt_normal},
      {"iid_df_fine", sbrtab::psHuff_iid_df_fine},
      {"iid_dt_fine", sbrtab::psHuff_iid_dt_fine},
      {"icc_df", sbrtab::psHuff_icc_df},
      {"icc_dt", sbrtab::psHuff_icc_dt},
      {"ipd_df", sbrtab::psHuff_ipd_df},
      {"ipd_dt", sbrtab::psHuff_ipd_dt},
      {"opd_df", sbrtab::psHuff_opd_df},
      {"opd_dt", sbrtab::psHuff_opd_dt},
  };
  return m;
}

TEST(SbrHuffman, EveryCodewordOfEveryTableDecodes) {
  std::ifstream f(sbrtest::fixturePath("codewords.txt"));
  if (!f) GTEST_SKIP() << "codeword list not generated (aac-tables absent)";
  std::string line;
  std::map<std::string, int> perTable;
  while (std::getline(f, line)) {
    std::istringstream is(line);
    std::string name, bits;
    int value, length;
    is >> name >> value >> length >> bits;
    auto it = trees().find(name);
    ASSERT_NE(it, trees().end()) << name;
    // The codeword followed by a run of ones: the walk must stop after exactly its own bits.
    sbrtest::BitWriter w;
    w.putBits(bits);
    w.put(0xFFFFFFFFu, 24);
    SbrBitReader br;
    sbrBitInit(&br, w.bytes().data(), static_cast<int>(w.bytes().size()));
    EXPECT_EQ(sbrDecodeHuffman(&br, it->second), value) << name << " " << bits;
    EXPECT_EQ(br.bitsRead, length) << name << " " << bits;
    perTable[name]++;
  }
  EXPECT_EQ(perTable.size(), 20u);
  EXPECT_EQ(perTable["t_huffman_env_1_5dB"], 121);
  EXPECT_EQ(perTable["iid_df_fine"], 61);
  EXPECT_EQ(perTable["opd_dt"], 8);
}

TEST(SbrBitReader, OverReadCountsTheWholeRequestAndReadsZeros) {
  const uint8_t data[2] = {0xA5, 0xFF};
  SbrBitReader br;
  sbrBitInit(&br, data, 2);
  EXPECT_EQ(sbrReadBits(&br, 4), 0xAu);
  EXPECT_EQ(sbrReadBits(&br, 8), 0x5Fu);
  EXPECT_EQ(sbrReadBits(&br, 8), 0xF0u);  // 4 real bits, 4 past the end
  EXPECT_EQ(br.bitsRead, 20);
  EXPECT_EQ(sbrBitsLeft(&br), -4);
  EXPECT_EQ(sbrReadBits(&br, 32), 0u);
}

}  // namespace
