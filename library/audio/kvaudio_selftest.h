// The conversion self-test's computing part, shared by the exported
// KvAudioCopy_UnitTest (which adds the wait cursor and the message box on
// Windows) and the tests.
#pragma once

#include <string>
#include <vector>

#include "kvaudio_internal.h"

struct KvAudioSelfTestReport {
  int nodesRun = 0;
  std::vector<int> failedNodes;
  std::string details;  // one "KvAudioCopy_UnitTest node[%d] failed." line per failed node
};

// S_OK, E_OUTOFMEMORY (testing stopped) or E_UNEXPECTED (a node failed).
HRESULT KvAudioCopy_RunSelfTest(KvAudioSelfTestReport* report);

#ifdef _WIN32
// The exported self-test around a given run (the tests give failing ones):
// wait cursor, a fresh details report with one line per failed node, and on
// failure the error message box when there is an owner window.
HRESULT KvAudioCopy_UnitTestWith(void* owner, HRESULT (*run)(KvAudioSelfTestReport*));
#endif
