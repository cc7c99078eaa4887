// Stand-in for the separator-token registration of the format engine: the
// international reload calls it; until the format engine provides the real
// registration it does nothing.
#include "kvlang.h"

extern "C" void KVAPI KvLang_RegisterSeparatorTokens(const KVINTERNATIONALS*) {}
