// Summary ids: four ASCII letters in reading order in memory ("IART" is the
// bytes I, A, R, T), so the 32-bit value's most significant byte is the last
// letter. Maps keyed by them order by that value.
#pragma once

#include <cstdint>

#include "fourcc.h"

namespace fileutil {

const uint32_t kSummaryArtist = FCC("IART");
const uint32_t kSummaryAlbumArtist = FCC("IAAT");
const uint32_t kSummaryComment = FCC("ICMT");
const uint32_t kSummaryDate = FCC("ICRD");
const uint32_t kSummaryTitle = FCC("INAM");
const uint32_t kSummaryAlbum = FCC("ISRC");
const uint32_t kSummarySoftware = FCC("ISFT");
const uint32_t kSummaryGenre = FCC("IGNR");
const uint32_t kSummaryCopyright = FCC("ICOP");
const uint32_t kSummarySubject = FCC("ISBJ");
const uint32_t kSummaryKeywords = FCC("IKEY");
const uint32_t kSummaryTrack = FCC("TRCK");
const uint32_t kSummaryTitleId3 = FCC("TIT2");
const uint32_t kSummaryComposer = FCC("TCOM");
const uint32_t kSummaryLength = FCC("TLEN");

}  // namespace fileutil
