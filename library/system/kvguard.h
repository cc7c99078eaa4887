// Library-internal: no C++ exception leaves an exported function. A body
// that allocates runs inside KvGuard, which answers onFailure when it throws
// (out of memory).
#pragma once

template <typename R, typename F>
R KvGuard(R onFailure, F&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return onFailure;
  }
}
