// Who may call the service: the origin allow-list, the Host header check against DNS rebinding,
// and which page files may be served. Pure functions of the request's texts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::service {

// An allow-list entry is an origin as a browser sends it ("http://localhost:8080",
// "https://shop.example"), compared without regard to case, or such an origin with ":*" for any
// port ("http://localhost:*", which also takes the origin without a port). "null" (pages from
// files, sandboxed frames) is allowed only when it is listed itself.
class OriginPolicy {
public:
    explicit OriginPolicy(std::vector<std::string> entries);
    bool allows(std::string_view origin) const;

private:
    std::vector<std::string> entries_;  // lower case
};

// A Host header that names this service: localhost, 127.0.0.1 or [::1] (case ignored) with the
// port the service listens on (without a port only when that port is 80).
bool isServiceHost(std::string_view host, std::uint16_t port);

// The page file a request path names under the web root, or empty when the path is not one that
// is served: only letters, digits, '.', '-', '_' and '/' separating non-empty names that do not
// begin with a dot (so no "..", no hidden files, no backslashes or drive names); "/" and paths
// ending in "/" name their index.html. A query ("?...") is ignored.
std::string pageFileOf(std::string_view target);

// The content type of a page file by its extension.
const char* contentTypeOf(std::string_view file);

}  // namespace tavrin::service
