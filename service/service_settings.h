// The local device service's settings: the section [Service] of the SDK's settings file
// (DevDllCfg.ini in the user data folder), and the command line that overrides them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tavrin::service {

inline constexpr std::uint16_t kDefaultPort = 19100;

// Origins a page may call from when the settings name none: pages served from this machine's
// loopback names, on any port, over http and https.
inline constexpr const char* kDefaultAllowedOrigins =
    "http://localhost:*,http://127.0.0.1:*,http://[::1]:*,https://localhost:*,https://127.0.0.1:*,https://[::1]:*";

struct Settings {
    std::uint16_t port = kDefaultPort;
    std::vector<std::string> allowedOrigins;  // as written: "scheme://host[:port]" or "...:*"
    bool allowNoOrigin = false;               // calls without an Origin header (local programs)
    std::size_t maxBodyBytes = 65536;
    int idleTimeoutMs = 30000;
    int maxConnections = 32;
    std::string webRoot;                      // a folder of pages served under "/", or empty
};

// Splits an origin list at commas and blanks; empty entries are dropped.
std::vector<std::string> splitOriginList(const std::string& text);

// The settings file the device library reads: "DevDllCfg.ini" in the user data folder (the local
// application data folder plus "Tavrin"). Empty when the system names no such folder.
std::u16string defaultSettingsFile();

// Reads [Service] from the file. As the device library does, a file without the right CfgID in
// [General] counts as missing: every value keeps its default. Keys: Port (1..65535),
// AllowedOrigins (list), AllowNoOrigin (0/1), MaxBodyBytes, IdleTimeout (ms), MaxConnections,
// WebRoot.
Settings loadSettings(const std::u16string& file);

// The command line of tavrin-service. Each option overrides its setting; --port 0 lets the system
// choose a free port (the program prints the ports it listens on).
struct CommandLine {
    std::optional<std::string> settingsFile;
    std::optional<int> port;
    std::optional<std::string> allowedOrigins;
    std::optional<bool> allowNoOrigin;
    std::optional<std::string> webRoot;
    std::optional<int> idleTimeoutMs;
    std::optional<int> maxConnections;
    bool help = false;
    bool version = false;
};
struct CommandLineResult {
    CommandLine line;
    std::string error;  // empty when the line was read
};
CommandLineResult parseCommandLine(const std::vector<std::string>& args);
void applyCommandLine(const CommandLine& line, Settings& settings);

inline constexpr const char* kUsage =
    "usage: tavrin-service [--settings FILE] [--port N] [--allowed-origins LIST] [--allow-no-origin 0|1]\n"
    "                      [--web-root DIR] [--idle-timeout MS] [--max-connections N] [--help] [--version]\n";

}  // namespace tavrin::service
