// The gapless-playback comment that players of the iTunes family read from an
// item list, written by the audio file writer and kept by the item-list
// writer when it rebuilds the list.
#pragma once

#include <cstdint>
#include <string>

#include "boxes.h"

namespace fileutil {

// The gapless-playback comment of the iTunes player family: a free-form item
// (mean "com.apple.iTunes", name "iTunSMPB") whose text gives, in hexadecimal,
// the priming samples, the padding samples after the presented part and the
// presented length. Players of that family read it instead of an edit list.
extern const char kGaplessCommentName[9];

// The comment's text: twelve space-led upper-case hexadecimal fields, the
// second to fourth of them priming, padding and length (16 digits).
std::string GaplessCommentText(uint64_t priming, uint64_t padding, uint64_t length);

// Puts the comment into the movie's user data item list (moov/udta/meta with
// its 'mdir' handler/ilst), made where missing; an earlier comment is
// replaced. False when `boxes` has no moov or memory ran short.
bool PutGaplessComment(BoxList& boxes, uint64_t priming, uint64_t padding, uint64_t length);

// True for an item-list entry that is the gapless comment.
bool IsGaplessComment(IBox* box);

}  // namespace fileutil
