// SMPTE time codes. Drop-frame (29.97) skips the labels 0 and 1 at the start
// of every minute except each tenth, 108 labels an hour, 2,589,408 frames a day.
#include "kvsmpte.h"

#include <string>

namespace {

const DWORD kDropFramesPerDay = 2589408;
const DWORD kLabelsPerHour30 = 108000;  // 30 labels x 3600 seconds
const DWORD kLabelsPerMinute30 = 1800;
const double kRate2997 = 29.97002997002997;
const double kRate23976 = 23.976023976023978;

bool ValidFormat(DWORD format) { return format >= 1 && format <= 6; }

// A drop-frame label that does not exist (frames 0 and 1 at second 0 of a
// minute that is not a multiple of ten).
bool IsSkippedDropLabel(DWORD minutes, DWORD seconds, DWORD frames) {
  return frames < 2 && seconds == 0 && (minutes % 10) != 0;
}

}  // namespace

DWORD KvSmpteLabelsPerSecond(DWORD format) {
  switch (format) {
    case 3: return 25;
    case 4: case 6: return 24;
    default: return 30;
  }
}

DWORD KvSmpteFramesPerDay(DWORD format) {
  switch (format) {
    case 1: case 5: return 2592000;
    case 2: return kDropFramesPerDay;
    case 3: return 2160000;
    case 4: case 6: return 2073600;
    default: return 0;
  }
}

double KvSmpteRate(DWORD format) {
  switch (format) {
    case 2: case 5: return kRate2997;
    case 3: return 25.0;
    case 4: return 24.0;
    case 6: return kRate23976;
    default: return 30.0;
  }
}

extern "C" DWORD KVAPI KVSMPTE_SMPTEToFrameCount(const _smpteval* value) {
  if (!value || !ValidFormat(value->format)) return 0;
  DWORD labels = KvSmpteLabelsPerSecond(value->format);
  DWORD frames = value->frames;
  if (value->format == 2 && IsSkippedDropLabel(value->minutes, value->seconds, frames)) frames = 2;
  DWORD count = ((value->hours * 60 + value->minutes) * 60 + value->seconds) * labels + frames;
  if (value->format == 2)
    count -= value->hours * 108 + (value->minutes - value->minutes / 10) * 2;
  return count;
}

extern "C" void KVAPI KVSMPTE_FrameCountToSMPTE(_smpteval* value, DWORD frames) {
  if (!value) return;
  DWORD format = value->format;
  DWORD labels;
  DWORD n;
  if (format == 1 || format == 5 || format == 3 || format == 4 || format == 6) {
    labels = KvSmpteLabelsPerSecond(format);
    n = frames % KvSmpteFramesPerDay(format);
  } else {
    // Drop-frame: turn the real frame count into a label count by adding the
    // labels skipped before it; the skipped count depends on the label count,
    // so repeat until it no longer changes.
    labels = 30;
    n = frames % kDropFramesPerDay;
    DWORD dropped = 0;
    for (;;) {
      DWORD h = n / kLabelsPerHour30;
      DWORD m = (n - h * kLabelsPerHour30) / kLabelsPerMinute30;
      DWORD d = h * 108 + (m - m / 10) * 2;
      if (d == dropped) break;
      n += d - dropped;
      dropped = d;
    }
  }
  value->hours = n / (labels * 3600);
  n -= value->hours * labels * 3600;
  value->minutes = n / (labels * 60);
  n -= value->minutes * labels * 60;
  value->seconds = n / labels;
  value->frames = n - value->seconds * labels;
  if (format == 2 && IsSkippedDropLabel(value->minutes, value->seconds, value->frames)) value->frames = 2;
}

// Sum and difference wrap at the day of a's format. A code outside 1..6 has
// no day length: a stays unchanged instead of dividing by zero.
extern "C" void KVAPI KVSMPTE_AddSMPTE(_smpteval* a, const _smpteval* b) {
  if (!a || !b || !ValidFormat(a->format)) return;
  ULONGLONG day = KvSmpteFramesPerDay(a->format);
  ULONGLONG sum = static_cast<ULONGLONG>(KVSMPTE_SMPTEToFrameCount(a)) + KVSMPTE_SMPTEToFrameCount(b);
  KVSMPTE_FrameCountToSMPTE(a, static_cast<DWORD>(sum % day));
}

extern "C" void KVAPI KVSMPTE_SubtractSMPTE(_smpteval* a, const _smpteval* b) {
  if (!a || !b || !ValidFormat(a->format)) return;
  LONGLONG day = KvSmpteFramesPerDay(a->format);
  LONGLONG d = static_cast<LONGLONG>(KVSMPTE_SMPTEToFrameCount(a)) - KVSMPTE_SMPTEToFrameCount(b);
  if (d >= 0)
    d %= day;
  else
    d = day - ((-d) % day);
  if (d == day) d = 0;
  KVSMPTE_FrameCountToSMPTE(a, static_cast<DWORD>(d));
}

extern "C" void KVAPI KVSMPTE_NanoToSMPTE(LONGLONG time, _smpteval* value) {
  if (!value) return;
  double rate = KvSmpteRate(value->format);
  LONGLONG frames = static_cast<LONGLONG>(rate * static_cast<double>(time) / 10000000.0 + 0.000005);
  KVSMPTE_FrameCountToSMPTE(value, static_cast<DWORD>(frames));
}

extern "C" LONGLONG KVAPI KVSMPTE_SMPTEToNanos(const _smpteval* value) {
  if (!value) return 0;
  double frames = KVSMPTE_SMPTEToFrameCount(value);
  return static_cast<LONGLONG>(frames / KvSmpteRate(value->format) * 10000000.0 + 0.999);
}

// A rate that is not positive has no frame duration: 0 instead of an
// undefined conversion of an infinite value.
extern "C" LONGLONG KVAPI KVSMPTE_SmpteLikeToNanos(double rate, const _smpteval* value) {
  if (!value || !(rate > 0.0) || rate > 1e12) return 0;
  double seconds = (static_cast<double>(value->hours) * 60 + value->minutes) * 60 + value->seconds;
  return static_cast<LONGLONG>(((seconds * rate + value->frames) / rate) * 10000000.0 + 0.999);
}

extern "C" int KVAPI KVSMPTE_SMPTECompare(const _smpteval* a, const _smpteval* b) {
  const DWORD av[4] = {a->hours, a->minutes, a->seconds, a->frames};
  const DWORD bv[4] = {b->hours, b->minutes, b->seconds, b->frames};
  for (int i = 0; i < 4; ++i) {
    if (av[i] > bv[i]) return 1;
    if (av[i] < bv[i]) return -1;
  }
  return 0;
}

extern "C" void KVAPI KVSMPTE_IncrementByFrame(_smpteval* value, DWORD) {
  if (!value) return;
  DWORD last = KvSmpteLabelsPerSecond(value->format) - 1;
  if (++value->frames <= last) return;
  value->frames = 0;
  if (++value->seconds < 60) return;
  value->seconds = 0;
  ++value->minutes;
  if (value->format == 2 && (value->minutes % 10) != 0) value->frames = 2;
  if (value->minutes < 60) return;
  value->minutes = 0;
  value->hours = (value->hours % 32) + 1;
  if (value->hours > 23) value->hours = 0;
}

extern "C" void KVAPI KVSMPTE_DeccrementByFrame(_smpteval* value, DWORD) {
  if (!value) return;
  DWORD last = KvSmpteLabelsPerSecond(value->format) - 1;
  DWORD first = (value->format == 2 && value->seconds == 0 && (value->minutes % 10) != 0) ? 2 : 0;
  if (value->frames > first) {
    --value->frames;
    return;
  }
  value->frames = last;
  if (value->seconds > 0) {
    --value->seconds;
    return;
  }
  value->seconds = 59;
  if (value->minutes > 0) {
    --value->minutes;
    return;
  }
  value->minutes = 59;
  DWORD h = value->hours % 32;
  value->hours = h > 0 ? h - 1 : 23;
}

// Reads "hh:mm:ss:ff" and shorter or run-together forms: every non-digit
// separates, digit runs longer than two are split into pairs from the right,
// and the numbers fill the fields from the frames upwards.
namespace {
WCHAR ParseTimeCode(const wchar_t* text, _smpteval* value) {
  std::wstring s(text);
  while (!s.empty() && s.back() == L' ') s.pop_back();
  if (!s.empty() && !(s.back() >= L'0' && s.back() <= L'9')) s += L" 0 ";
  std::wstring t;
  // Digit runs longer than two are split into pairs from the right.
  for (size_t i = 0; i < s.size(); ++i) {
    wchar_t c = s[i];
    if (c >= L'0' && c <= L'9') {
      size_t j = i;
      while (j < s.size() && s[j] >= L'0' && s[j] <= L'9') ++j;
      size_t len = j - i;
      for (size_t k = i; k < j; ++k) {
        if (len > 2 && k > i && ((j - k) % 2) == 0) t += L' ';
        t += s[k];
      }
      i = j - 1;
    } else {
      t += L' ';
    }
  }
  DWORD fields[4] = {0, 0, 0, 0};  // hours, minutes, seconds, frames
  size_t p = 0;
  int read = 0;
  while (read < 4) {
    while (p < t.size() && t[p] == L' ') ++p;
    if (p >= t.size()) break;
    DWORD n = 0;
    while (p < t.size() && t[p] >= L'0' && t[p] <= L'9') n = n * 10 + (t[p++] - L'0');
    fields[0] = fields[1];
    fields[1] = fields[2];
    fields[2] = fields[3];
    fields[3] = n;
    ++read;
  }
  while (p < t.size() && t[p] == L' ') ++p;
  WCHAR stop = p < t.size() ? t[p] : 0;
  DWORD h = fields[0], m = fields[1], sec = fields[2], f = fields[3];
  if (ValidFormat(value->format)) {
    // A frame number at or above the labels of a second carries ("90" is
    // three seconds at 30 labels).
    DWORD labels = KvSmpteLabelsPerSecond(value->format);
    sec += f / labels;
    f %= labels;
  }
  m += sec / 60;
  sec %= 60;
  h += m / 60;
  m %= 60;
  h %= 24;
  value->hours = h;
  value->minutes = m;
  value->seconds = sec;
  value->frames = f;
  return stop;
}
}  // namespace

extern "C" WCHAR KVAPI KVSMPTE_TextToSMPTE(const wchar_t* text, _smpteval* value) {
  if (!value) return 0;
  value->hours = value->minutes = value->seconds = value->frames = 0;
  if (!text) return 0;
  try {
    return ParseTimeCode(text, value);
  } catch (...) {  // out of memory for the working copy: nothing read
    return text[0];
  }
}
