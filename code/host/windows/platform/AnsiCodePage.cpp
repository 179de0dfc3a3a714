#include "host/windows/platform/AnsiCodePage.h"

#include "host/windows/platform/Win32.h"

namespace kadroo::windows {
namespace {

const wchar_t* Wide(TextView text) { return reinterpret_cast<const wchar_t*>(text.data()); }

}  // namespace

std::optional<std::string> AnsiCodePage::ToAnsi(TextView text) {
  if (text.empty()) return std::string();
  const int length = static_cast<int>(text.size());
  // UTF-8 as the ANSI code page holds every character but rejects the no-best-fit flag and the used-default
  // check; a lone surrogate is what it cannot hold.
  const bool utf8 = ::GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* used = utf8 ? nullptr : &usedDefault;
  const int size = ::WideCharToMultiByte(CP_ACP, flags, Wide(text), length, nullptr, 0, nullptr, used);
  if (size <= 0 || usedDefault) return std::nullopt;
  std::string out(static_cast<size_t>(size), '\0');
  if (::WideCharToMultiByte(CP_ACP, flags, Wide(text), length, out.data(), size, nullptr, used) != size ||
      usedDefault) {
    return std::nullopt;
  }
  return out;
}

Text AnsiCodePage::FromAnsi(std::string_view bytes) {
  if (bytes.empty()) return Text();
  const int length = static_cast<int>(bytes.size());
  const int size = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
  if (size <= 0) return Text();
  Text out(static_cast<size_t>(size), u'\0');
  ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, reinterpret_cast<wchar_t*>(out.data()), size);
  return out;
}

std::wstring ToWide(TextView text) { return std::wstring(Wide(text), text.size()); }

}  // namespace kadroo::windows
