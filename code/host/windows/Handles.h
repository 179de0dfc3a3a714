#pragma once
// One move-only owner for every kind of platform resource, closed in its destructor, which never throws.
#include <windows.h>
#include <oleauto.h>
#include <wininet.h>

#include <cstddef>
#include <type_traits>
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
  T operator->() const { return value_; }  // for an interface pointer
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
// A resource whose empty value is `Empty` (null for most kinds, INVALID_HANDLE_VALUE for files and finds).
template <typename T, auto Release, auto Empty = nullptr>
struct Traits {
  using type = T;
  static T Invalid() {
    if constexpr (std::is_same_v<decltype(Empty), std::nullptr_t>) {
      return nullptr;
    } else {
      return Empty();
    }
  }
  static void Close(T value) { Release(value); }
};
inline HANDLE InvalidHandleValue() { return INVALID_HANDLE_VALUE; }
template <typename Interface>
void ReleaseInterface(Interface* value) { value->Release(); }
}  // namespace detail

using unique_hinternet = unique_handle<detail::Traits<HINTERNET, ::InternetCloseHandle>>;
using unique_hkey = unique_handle<detail::Traits<HKEY, ::RegCloseKey>>;
using unique_hfind = unique_handle<detail::Traits<HANDLE, ::FindClose, detail::InvalidHandleValue>>;
// A file from CreateFile, empty when INVALID_HANDLE_VALUE.
using unique_file = unique_handle<detail::Traits<HANDLE, ::CloseHandle, detail::InvalidHandleValue>>;
// A process or thread handle, empty when null.
using unique_kernel_handle = unique_handle<detail::Traits<HANDLE, ::CloseHandle>>;
using unique_bstr = unique_handle<detail::Traits<BSTR, ::SysFreeString>>;
// A COM interface reference, released rather than closed.
template <typename Interface>
using unique_com = unique_handle<detail::Traits<Interface*, detail::ReleaseInterface<Interface>>>;

// A reference of its own to `value`, which may be null.
template <typename Interface>
unique_com<Interface> Retained(Interface* value) {
  if (value) value->AddRef();
  return unique_com<Interface>(value);
}

}  // namespace kadroo::windows
