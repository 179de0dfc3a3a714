#pragma once
// The origin of a page, as a browser reports it to an extension and as the administrator's policy lists sites:
// scheme://host[:port], the scheme and host in lower case, the port only when it is not the scheme's default.
#include <optional>
#include <string>
#include <string_view>

namespace kadroo {

// The origin of `url`; nullopt for an address that has none a policy could list: a scheme other than http,
// https, ftp, ws and wss (whose pages browsers give an opaque origin), no "//host", an empty host, or a port that
// is not a number up to 65535. A user name and password before the host
// are not part of it: "https://oa.example.org@evil.example/" is the origin "https://evil.example".
std::optional<std::string> OriginOfUrl(std::string_view url);

}  // namespace kadroo
