#pragma once
// The administrator's policy for pages on Windows: the same JSON document as on Linux, kept in the value
// `Policy` of HKLM\SOFTWARE\Policies\KadroOA (which only administrators and Group Policy can write; the user's
// own HKCU is never read), and the resolver that turns the policy's and the page's Windows paths into one form.
#include <optional>
#include <string>

#include "policy/BridgePolicy.h"
#include "policy/PolicyDocument.h"

namespace kadroo::windows {

// Windows paths in one comparable form: absolute (GetFullPathNameW), the links and short names of the part that
// exists followed to the file's final name, in lower case (Windows file names ignore case), one "\" between
// names and none at the end but a drive's root's: "C:\OA\Report.doc" becomes "c:\oa\report.doc", a drive's
// root "c:\", a share "\\server\share\x".
class WindowsPaths final : public PathResolver {
 public:
  std::optional<std::string> ResolvePath(TextView path) override;
  // The folder resolved and the program's own name kept, in lower case: a program starts under its own name.
  std::optional<std::string> ResolveFolderOf(TextView path) override;
  bool HasOtherNames(TextView path) override;

  // The user's profile folder (%USERPROFILE%), for the policy's "~\" entries.
  static std::string ProfileFolder();
};

// The key and value, for the Group Policy templates and the tests.
inline constexpr wchar_t kPolicyKey[] = L"SOFTWARE\\Policies\\KadroOA";
inline constexpr char kPolicyPlace[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\KadroOA";
inline constexpr wchar_t kPolicyValue[] = L"Policy";

// Reads HKLM\SOFTWARE\Policies\KadroOA, value Policy, in the 64-bit view: REG_SZ, or REG_MULTI_SZ whose strings
// are joined with "\n" (Group Policy's multi-line text), parsed with the user's profile folder for "~\".
PolicyLoad LoadRegistryPolicy();

}  // namespace kadroo::windows
