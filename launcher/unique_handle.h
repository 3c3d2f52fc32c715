// Owners for kernel handles and registry keys: each closes what it holds
// exactly once, on every path out of the scope that made it.
#pragma once

#include <windows.h>

#include <utility>

namespace hdw::launcher {

template <typename T, T kInvalid, typename Close>
class unique_resource {
 public:
  unique_resource() = default;
  explicit unique_resource(T value) : value_(value) {}
  unique_resource(const unique_resource&) = delete;
  unique_resource& operator=(const unique_resource&) = delete;
  unique_resource(unique_resource&& other) noexcept
      : value_(std::exchange(other.value_, kInvalid)) {}
  unique_resource& operator=(unique_resource&& other) noexcept {
    if (this != &other) reset(std::exchange(other.value_, kInvalid));
    return *this;
  }
  ~unique_resource() { reset(); }

  T get() const { return value_; }
  explicit operator bool() const { return value_ != kInvalid; }

  // Slot for a platform function that hands back a new resource.
  T* put() {
    reset();
    return &value_;
  }

  void reset(T value = kInvalid) {
    if (value_ != kInvalid) Close{}(value_);
    value_ = value;
  }

 private:
  T value_ = kInvalid;
};

struct close_handle {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
struct close_key {
  void operator()(HKEY key) const { ::RegCloseKey(key); }
};

using unique_handle = unique_resource<HANDLE, nullptr, close_handle>;
using unique_hkey = unique_resource<HKEY, nullptr, close_key>;

}  // namespace hdw::launcher
