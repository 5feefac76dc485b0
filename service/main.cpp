// tavrin-service: the browser control's methods for today's browsers, over HTTP and WebSocket on
// the loopback addresses (see the README's "Web pages").
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/console.h"
#include "platform/text_utf.h"
#include "service/bridge_methods.h"
#include "service/server.h"
#include "tavrin/tavrin.h"
#include "tavrinocx/bridge_binding.h"

namespace {

void logLine(const std::string& line) {
    std::fprintf(stderr, "tavrin-service: %s\n", line.c_str());
    std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tavrin;
    const std::vector<std::string> args(argv + 1, argv + argc);
    const service::CommandLineResult parsed = service::parseCommandLine(args);
    if (!parsed.error.empty()) {
        logLine(parsed.error);
        std::fputs(service::kUsage, stderr);
        return 2;
    }
    if (parsed.line.help) {
        std::fputs(service::kUsage, stdout);
        return 0;
    }
    if (parsed.line.version) {
        std::printf("tavrin-service %s\n", TAVRIN_VERSION_STRING);
        return 0;
    }

    std::u16string settingsFile = service::defaultSettingsFile();
    if (parsed.line.settingsFile) {
        auto wide = utf::utf8ToUtf16(*parsed.line.settingsFile);
        if (!wide) {
            logLine("the settings file name is not well-formed UTF-8");
            return 2;
        }
        settingsFile = *wide;
    }
    service::Settings settings = service::loadSettings(settingsFile);
    service::applyCommandLine(parsed.line, settings);

    // The bridge beside the program, else in the library folder of its install tree.
    ocx::BridgeBinding binding;
    const std::string folder = platform::programFolder();
    bool bound = binding.bind(folder);
#ifdef TAVRIN_SERVICE_LIBRARY_FOLDER
    if (!bound && !folder.empty()) bound = binding.bind(folder + "/" TAVRIN_SERVICE_LIBRARY_FOLDER);
#endif
    if (!bound) {
        logLine("cannot load the bridge library TavrinDll (looked beside the program and in its library folder)");
        return 1;
    }
    service::BridgeMethods methods(binding.entries());

    service::Server server(settings, methods, logLine);
    std::string error;
    if (!server.start(error)) {
        logLine(error);
        return 1;
    }
    std::printf("listening 127.0.0.1:%u\n", static_cast<unsigned>(server.port()));
    if (server.listensOnIpv6()) std::printf("listening [::1]:%u\n", static_cast<unsigned>(server.port()));
    std::printf("ready\n");
    std::fflush(stdout);

    platform::catchStopRequests();
    while (!platform::stopRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    server.stop();
    logLine("stopped");
    return 0;
}
