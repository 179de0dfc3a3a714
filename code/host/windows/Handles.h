#pragma once
// One move-only owner for every kind of platform resource, closed in its destructor, which never throws.
#include <windows.h>
#include <oleauto.h>
#include <wininet.h>

#include <utility>

namespace kadroo::windows {

// Owns a value of `Traits::type` that `Traits::Close` releases unless it equals `Traits::Invalid()`.
template <typename Traits>
class unique_handle {
  using T = typename Traits::type;
  static T Invalid() { return Traits::Invalid(); }


 public:
  unique_handle() = default;
  explicit unique_handle(T value) : value_(value) {}
  unique_handle(const unique_handle&) = delete;
  unique_handle& operator=(const unique_handle&) = delete;
  unique_handle(unique_handle&& other) noexcept : value_(other.release()) {}
  unique_handle& operator=(unique_handle&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~unique_handle() { reset(); }

  T get() const { return value_; }
  explicit operator bool() const { return value_ != Invalid(); }
  // The address to receive a new value into; whatever was held is released first.
  T* put() {
    reset();
    return &value_;
  }
  T release() { return std::exchange(value_, Invalid()); }
  void reset(T value = Invalid()) {
    const T old = std::exchange(value_, value);
    if (old != Invalid()) Traits::Close(old);
  }

 private:
  T value_ = Invalid();
};

namespace detail {
// A resource whose empty value is null.
template <typename T, auto Release>
struct NullTraits {
  using type = T;
  static T Invalid() { return nullptr; }
  static void Close(T value) { Release(value); }
};
// A COM interface reference, released rather than closed.
template <typename Interface>
struct ComTraits {
  using type = Interface*;
  static Interface* Invalid() { return nullptr; }
  static void Close(Interface* value) { value->Release(); }
};
struct FindTraits {
  using type = HANDLE;
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE value) { ::FindClose(value); }
};
}  // namespace detail

using unique_hinternet = unique_handle<detail::NullTraits<HINTERNET, ::InternetCloseHandle>>;
using unique_hkey = unique_handle<detail::NullTraits<HKEY, ::RegCloseKey>>;
using unique_hfind = unique_handle<detail::FindTraits>;
using unique_kernel_handle = unique_handle<detail::NullTraits<HANDLE, ::CloseHandle>>;
using unique_bstr = unique_handle<detail::NullTraits<BSTR, ::SysFreeString>>;
template <typename Interface>
using unique_com = unique_handle<detail::ComTraits<Interface>>;

// A VARIANT that clears itself.
class unique_variant : public VARIANT {
 public:
  unique_variant() { ::VariantInit(this); }
  unique_variant(const unique_variant&) = delete;
  unique_variant& operator=(const unique_variant&) = delete;
  ~unique_variant() { ::VariantClear(this); }
};

}  // namespace kadroo::windows
