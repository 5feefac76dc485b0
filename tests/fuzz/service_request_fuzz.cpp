// What the local device service reads of a request: the page path, the Origin and Host headers and
// a method's parameters. A page path that is taken names only plain names under the web root; an
// origin the default list takes is a loopback origin; a Host taken is one of the service's names;
// parameters are taken with well-formed texts without NUL, or refused with a message.
//
// Input: the first byte picks the method, the rest is the text (request target, header value,
// body).
#include <string>

#include "platform/text_utf.h"
#include "service/method_calls.h"
#include "service/request_rules.h"
#include "service/service_settings.h"
#include "tests/fuzz/fuzz_check.h"

namespace tavrin::fuzz {
namespace {

std::string lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool plainName(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.';
}

void checkPage(const std::string& target) {
    const std::string file = service::pageFileOf(target);
    if (file.empty()) return;
    FUZZ_CHECK(file.front() != '/');
    bool nameStart = true;
    for (char c : file) {
        if (c == '/') {
            FUZZ_CHECK(!nameStart);
            nameStart = true;
            continue;
        }
        FUZZ_CHECK(plainName(c));
        FUZZ_CHECK(!(nameStart && c == '.'));  // no "..", no hidden names
        nameStart = false;
    }
}

void checkOrigin(const std::string& origin) {
    static const service::OriginPolicy defaults(service::splitOriginList(service::kDefaultAllowedOrigins));
    if (!defaults.allows(origin)) return;
    const std::string o = lower(origin);
    bool loopback = false;
    for (const char* scheme : {"http://", "https://"}) {
        for (const char* host : {"localhost", "127.0.0.1", "[::1]"}) {
            const std::string base = std::string(scheme) + host;
            if (o == base) loopback = true;
            if (o.size() > base.size() + 1 && o.compare(0, base.size() + 1, base + ":") == 0 &&
                o.find_first_not_of("0123456789", base.size() + 1) == std::string::npos) {
                loopback = true;
            }
        }
    }
    FUZZ_CHECK(loopback);
}

void checkHost(const std::string& host) {
    if (!service::isServiceHost(host, 19100)) return;
    const std::string h = lower(host);
    FUZZ_CHECK(h == "localhost:19100" || h == "127.0.0.1:19100" || h == "[::1]:19100");
}

void checkCall(service::Method method, const std::string& body) {
    const service::ParsedCall parsed = service::parseCallBody(method, body);
    FUZZ_CHECK(parsed.call.has_value() != !parsed.error.empty());
    if (!parsed.call) return;
    FUZZ_CHECK(parsed.call->method == method);
    for (const std::u16string* text : {&parsed.call->pathStr, &parsed.call->path, &parsed.call->ctrlCode,
                                       &parsed.call->inDats, &parsed.call->name, &parsed.call->val}) {
        FUZZ_CHECK(utf::isWellFormed(*text));
        FUZZ_CHECK(text->find(u'\0') == std::u16string::npos);
    }
}

}  // namespace

int serviceRequest(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const auto method = static_cast<service::Method>(data[0] % 8);
    const std::string text(data + 1, data + size);
    checkPage(text);
    checkOrigin(text);
    checkHost(text);
    checkCall(method, text);
    return 0;
}

}  // namespace tavrin::fuzz
