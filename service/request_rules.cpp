// Origin allow-list, Host check and page paths (see request_rules.h).
#include "service/request_rules.h"

namespace tavrin::service {
namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool endsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// "scheme://host" of an origin and whether what follows is ":digits" or nothing.
bool splitPort(std::string_view origin, std::string_view& base, std::string_view& port) {
    const std::size_t scheme = origin.find("://");
    if (scheme == std::string_view::npos) return false;
    const std::size_t hostStart = scheme + 3;
    std::size_t colon;
    if (hostStart < origin.size() && origin[hostStart] == '[') {
        const std::size_t close = origin.find(']', hostStart);
        if (close == std::string_view::npos) return false;
        colon = close + 1 < origin.size() ? close + 1 : std::string_view::npos;
        if (colon != std::string_view::npos && origin[colon] != ':') return false;
    } else {
        colon = origin.find(':', hostStart);
    }
    base = origin.substr(0, colon);
    port = colon == std::string_view::npos ? std::string_view() : origin.substr(colon + 1);
    if (colon != std::string_view::npos && port.empty()) return false;
    for (char c : port)
        if (c < '0' || c > '9') return false;
    return base.find('/', hostStart) == std::string_view::npos;
}

}  // namespace

OriginPolicy::OriginPolicy(std::vector<std::string> entries) {
    for (const std::string& e : entries) entries_.push_back(lower(e));
}

bool OriginPolicy::allows(std::string_view origin) const {
    if (origin.empty()) return false;
    const std::string o = lower(origin);
    for (const std::string& e : entries_) {
        const bool anyPort = endsWith(e, ":*");
        if (e == o && !anyPort) return true;  // "...:*" itself is no origin a browser sends
        if (o == "null") continue;
        if (anyPort) {
            std::string_view base, port;
            if (splitPort(o, base, port) && base == std::string_view(e).substr(0, e.size() - 2)) return true;
        }
    }
    return false;
}

bool isServiceHost(std::string_view host, std::uint16_t port) {
    const std::string h = lower(host);
    const std::string suffix = ":" + std::to_string(port);
    for (const char* name : {"localhost", "127.0.0.1", "[::1]"}) {
        if (h == std::string(name) + suffix) return true;
        if (port == 80 && h == name) return true;
    }
    return false;
}

std::string pageFileOf(std::string_view target) {
    const std::size_t query = target.find('?');
    if (query != std::string_view::npos) target = target.substr(0, query);
    if (target.empty() || target[0] != '/' || target.size() > 256) return {};
    std::string file;
    bool nameStart = true;
    for (std::size_t i = 1; i < target.size(); ++i) {
        const char c = target[i];
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '_' || c == '.';
        if (c == '/') {
            if (nameStart) return {};  // empty name ("//")
            nameStart = true;
        } else if (!plain || (nameStart && c == '.')) {
            return {};
        } else {
            nameStart = false;
        }
        file += c;
    }
    if (file.empty() || file.back() == '/') file += "index.html";
    return file;
}

const char* contentTypeOf(std::string_view file) {
    if (endsWith(file, ".html")) return "text/html; charset=utf-8";
    if (endsWith(file, ".js") || endsWith(file, ".mjs")) return "text/javascript; charset=utf-8";
    if (endsWith(file, ".css")) return "text/css; charset=utf-8";
    if (endsWith(file, ".json")) return "application/json";
    if (endsWith(file, ".png")) return "image/png";
    if (endsWith(file, ".svg")) return "image/svg+xml";
    return "application/octet-stream";
}

}  // namespace tavrin::service
