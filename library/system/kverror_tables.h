// The error handler's built-in tables (library-internal).
#pragma once

#include "kverror.h"

struct KvLeadSentence {
  UINT leadId;
  UINT stringId;
};

extern const KvErrorTableEntry kKvBuiltInErrors[];
extern const int kKvBuiltInErrorCount;
extern const KvLeadSentence kKvLeadSentences[];
extern const int kKvLeadSentenceCount;
