// Damaged and random input for every reader of outside bytes: the stream
// loaders, the block imports and the 3GPP reader over mutated files. Nothing
// may crash, hang or read out of bounds (the native build runs this under
// AddressSanitizer and UBSan). Each failure prints its seed.
#include <random>

#include "meta3gpp.h"
#include "metaitunes.h"
#include "metablocks.h"
#include "metadataset.h"
#include "metatest_util.h"
#include "summaryids.h"

using namespace fileutil;
using namespace metatest;

namespace {

ByteVector RandomBytes(std::mt19937& rng, size_t maxSize) {
  ByteVector b(rng() % (maxSize + 1));
  for (auto& v : b) v = uint8_t(rng());
  return b;
}

// Overwrites a few bytes (sizes and counts included) of a valid layout.
ByteVector Mutate(std::mt19937& rng, ByteVector b) {
  if (b.empty()) return b;
  int edits = 1 + int(rng() % 4);
  for (int i = 0; i < edits; ++i) {
    size_t at = rng() % b.size();
    switch (rng() % 3) {
      case 0: b[at] = uint8_t(rng()); break;
      case 1: b[at] = 0xFF; break;
      default: b.resize(at); break;
    }
    if (b.empty()) break;
  }
  return b;
}

TEST(HostileInput, StreamLoadersAndBlockImportsTakeAnyBytes) {
  MetaDataSet model;
  model.SetSummaryText(kSummaryTitle, L"Title");
  model.SetSummaryText(kSummaryArtist, L"Artist");
  model.AddPicture(L"image/png", reinterpret_cast<const uint8_t*>("12345"), 5, 3);
  model.AddSmfmf(ByteVector(20, 9));
  model.ExportPictures();
  model.ExportSmfmf();
  ByteVector summary, generic;
  ASSERT_EQ(BuildSummaryStream(model, summary), S_OK);
  ASSERT_EQ(BuildGenericStream(model, kPictureEntryGuid, generic), S_OK);
  const ByteVector picture = model.Entries().find(kPictureEntryGuid)->second;
  const ByteVector smfmf = model.Entries().find(kSmfmfEntryGuid)->second;

  for (uint32_t seed = 1; seed <= 3000; ++seed) {
    std::mt19937 rng(seed);
    ByteVector a = seed % 2 ? Mutate(rng, summary) : RandomBytes(rng, 64);
    ByteVector b = seed % 2 ? Mutate(rng, generic) : RandomBytes(rng, 96);
    MetaDataSet set;
    MemoryByteSource sa(a.data(), a.size()), sb(b.data(), b.size());
    set.LoadSummarySource(sa);
    set.LoadGenericSource(sb);
    set.AddEntry(kPictureEntryGuid, Mutate(rng, picture));
    set.AddEntry(kSmfmfEntryGuid, Mutate(rng, smfmf));
    set.AddEntry(kPictureEntryGuid, RandomBytes(rng, 40));
    set.ImportPictures();
    set.ImportSmfmf();
    for (const auto& p : set.Pictures()) ASSERT_LE(p.second.data.size(), 40u) << "seed " << seed;
    // Whatever was loaded converts back into streams.
    ByteVector again;
    ASSERT_EQ(BuildSummaryStream(set, again), S_OK) << "seed " << seed;
    ASSERT_GE(again.size(), 12u) << "seed " << seed;
  }
}

TEST(HostileInput, AssetReaderAndWritersSurviveMutatedFiles) {
  const Bytes asset = FB("titl", 0, U16(0x15C7) + Bytes("Title\0", 6)) +
                      FB("albm", 0, U16(0x15C7) + Bytes("Album\0\x05", 7)) + FB("yrrc", 0, U16(2005)) +
                      FB("perf", 0, U16(0x15C7) + Hex("FFFE 4100"));
  const Bytes trak = B("trak", B("mdia", FB("mdhd", 0, U32(0) + U32(0) + U32(1000) + U32(500) + U32(0)) +
                                             B("minf", B("stbl", FB("stsd", 0, U32(1) + B("mp4a", Bytes(28, '\0')))))));
  const Bytes file = B("ftyp", "3gp4" + U32(0)) + B("moov", trak + B("udta", asset)) + B("mdat", "0123456789");
  const ByteVector base(file.begin(), file.end());
  for (uint32_t seed = 1; seed <= 2000; ++seed) {
    std::mt19937 rng(seed);
    ByteVector bytes = Mutate(rng, base);
    Bytes mutated(bytes.begin(), bytes.end());
    {
      mp4test::Tree tree(mutated, GetReadMetaFactory());
      if (tree.boxes) {
        MetaDataSet set;
        Get3gppMetaData(set, *tree.boxes).Apply();
      }
    }
    WriteTree tree(mutated);
    if (!tree.boxes) continue;
    MetaDataSet set;
    set.SetSummaryText(kSummaryTitle, L"x");
    set.SetSummaryText(kSummaryTrack, L"3");
    set.SetSummaryText(kSummaryDate, L"1999");
    set.AddPicture(L"image/png", reinterpret_cast<const uint8_t*>("P"), 1, 0);
    Put3gppMetaData(set, *tree.boxes).Apply();
    Del3gppMetaData(*tree.boxes).Apply();
    PutiTunesMetaData(set, *tree.boxes).Apply();
  }
}

}  // namespace
