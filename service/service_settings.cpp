// The service's settings and command line (see service_settings.h).
#include "service/service_settings.h"

#include <cstdlib>

#include "platform/ini_file.h"
#include "platform/system_info.h"
#include "platform/text_utf.h"

namespace tavrin::service {
namespace {

// The device library's settings file is taken only with this identifier (see the SDK's README).
constexpr std::int32_t kFileId = 1684418609;

std::optional<int> readNumber(const std::string& text, long low, long high) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    for (char c : text)
        if (c < '0' || c > '9') return std::nullopt;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value < low || value > high) return std::nullopt;
    return static_cast<int>(value);
}

}  // namespace

std::vector<std::string> splitOriginList(const std::string& text) {
    std::vector<std::string> out;
    std::string current;
    for (char c : text) {
        if (c == ',' || c == ' ' || c == '\t' || c == ';') {
            if (!current.empty()) out.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) out.push_back(current);
    return out;
}

std::u16string defaultSettingsFile() {
    const std::u16string appData = platform::localAppDataFolder();
    if (appData.empty()) return {};
    std::u16string folder, file;
    if (!platform::joinPath(appData, u"Tavrin", folder)) return {};
    if (!platform::joinPath(folder, u"DevDllCfg.ini", file)) return {};
    return file;
}

Settings loadSettings(const std::u16string& file) {
    Settings s;
    s.allowedOrigins = splitOriginList(kDefaultAllowedOrigins);
    if (file.empty() || platform::iniReadInt(file, u"General", u"CfgID", 0) != kFileId) return s;

    const std::int32_t port = platform::iniReadInt(file, u"Service", u"Port", kDefaultPort);
    if (port >= 1 && port <= 65535) s.port = static_cast<std::uint16_t>(port);
    const std::u16string origins = platform::iniReadString(file, u"Service", u"AllowedOrigins", u"", 4096);
    if (!origins.empty()) {
        if (auto utf8 = utf::utf16ToUtf8(origins)) s.allowedOrigins = splitOriginList(*utf8);
    }
    s.allowNoOrigin = platform::iniReadInt(file, u"Service", u"AllowNoOrigin", 0) != 0;
    const std::int32_t body = platform::iniReadInt(file, u"Service", u"MaxBodyBytes", 0);
    if (body >= 1024 && body <= 16 * 1024 * 1024) s.maxBodyBytes = static_cast<std::size_t>(body);
    const std::int32_t idle = platform::iniReadInt(file, u"Service", u"IdleTimeout", 0);
    if (idle >= 100) s.idleTimeoutMs = idle;
    const std::int32_t connections = platform::iniReadInt(file, u"Service", u"MaxConnections", 0);
    if (connections >= 1 && connections <= 1024) s.maxConnections = connections;
    const std::u16string root = platform::iniReadString(file, u"Service", u"WebRoot", u"", 1024);
    if (auto utf8 = utf::utf16ToUtf8(root)) s.webRoot = *utf8;
    return s;
}

CommandLineResult parseCommandLine(const std::vector<std::string>& args) {
    CommandLineResult r;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string option = args[i];
        std::optional<std::string> value;
        const std::size_t eq = option.find('=');
        if (option.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = option.substr(eq + 1);
            option = option.substr(0, eq);
        }
        if (option == "--help" || option == "-h") {
            r.line.help = true;
            continue;
        }
        if (option == "--version") {
            r.line.version = true;
            continue;
        }
        const bool takesValue = option == "--settings" || option == "--port" || option == "--allowed-origins" ||
                                option == "--allow-no-origin" || option == "--web-root" ||
                                option == "--idle-timeout" || option == "--max-connections";
        if (!takesValue) {
            r.error = "unknown option " + args[i];
            return r;
        }
        if (!value) {
            if (i + 1 >= args.size()) {
                r.error = option + " needs a value";
                return r;
            }
            value = args[++i];
        }
        if (option == "--settings") {
            r.line.settingsFile = *value;
        } else if (option == "--port") {
            r.line.port = readNumber(*value, 0, 65535);
            if (!r.line.port) r.error = "--port takes a number from 0 to 65535";
        } else if (option == "--allowed-origins") {
            r.line.allowedOrigins = *value;
        } else if (option == "--allow-no-origin") {
            if (*value != "0" && *value != "1") r.error = "--allow-no-origin takes 0 or 1";
            r.line.allowNoOrigin = *value == "1";
        } else if (option == "--web-root") {
            r.line.webRoot = *value;
        } else if (option == "--idle-timeout") {
            r.line.idleTimeoutMs = readNumber(*value, 100, 3600000);
            if (!r.line.idleTimeoutMs) r.error = "--idle-timeout takes milliseconds from 100 to 3600000";
        } else if (option == "--max-connections") {
            r.line.maxConnections = readNumber(*value, 1, 1024);
            if (!r.line.maxConnections) r.error = "--max-connections takes a number from 1 to 1024";
        }
        if (!r.error.empty()) return r;
    }
    return r;
}

void applyCommandLine(const CommandLine& line, Settings& settings) {
    if (line.port) settings.port = static_cast<std::uint16_t>(*line.port);
    if (line.allowedOrigins) settings.allowedOrigins = splitOriginList(*line.allowedOrigins);
    if (line.allowNoOrigin) settings.allowNoOrigin = *line.allowNoOrigin;
    if (line.webRoot) settings.webRoot = *line.webRoot;
    if (line.idleTimeoutMs) settings.idleTimeoutMs = *line.idleTimeoutMs;
    if (line.maxConnections) settings.maxConnections = *line.maxConnections;
}

}  // namespace tavrin::service
