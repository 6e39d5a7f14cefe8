// A test seam set for one scope: the constructor installs the value, the
// destructor puts back the one it replaced, so a failing test cannot leave
// its hook behind for the next. Set installs a value and returns the old one.
#pragma once

#include <utility>

template <class T, T (*Set)(T)>
class TScopedSeam {
 public:
  explicit TScopedSeam(T value) : FPrevious(Set(std::move(value))) {}
  ~TScopedSeam() { Set(std::move(FPrevious)); }
  TScopedSeam(const TScopedSeam&) = delete;
  TScopedSeam& operator=(const TScopedSeam&) = delete;

 private:
  T FPrevious;
};
