#pragma once

#include <utility>

namespace vrk {

// Runs a cleanup when the scope it guards is left, by return or by exception,
// unless dismiss() was called first. The destructor must not throw: a cleanup
// that throws while an exception is already unwinding would end the program,
// so an exception out of the cleanup is swallowed there. Cleanups whose
// failure must be reported run explicitly on the normal path and dismiss.
template <class F>
class TScopeExit {
 public:
  explicit TScopeExit(F f) : m_f(std::move(f)) {}
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;
  ~TScopeExit() noexcept {
    if (!m_active) return;
    try {
      m_f();
    } catch (...) {  // dropped: see the class comment
    }
  }
  void dismiss() noexcept { m_active = false; }

 private:
  F m_f;
  bool m_active = true;
};

template <class F>
[[nodiscard]] TScopeExit<F> onScopeExit(F f) {
  return TScopeExit<F>(std::move(f));
}

}  // namespace vrk
