#include "devicelib/core/dev_app.h"

#include "devicelib/ports/net_port.h"
#include "platform/library_entry.h"
#include "platform/sync.h"
#include "platform/system_info.h"
#include "platform/usb_tree.h"

namespace tavrin {

CDevApp& theApp() {
    static CDevApp app;
    return app;
}

CDevApp::~CDevApp() {
    // The members go in reverse order after this: the table (emptied), the settings, the log
    // (flushed and closed if still open).
    devices.emptyAll();
}

void CDevApp::getUserAppPath() {
    std::u16string folder = platform::localAppDataFolder();
    std::u16string path;
    if (folder.empty() || !platform::joinPath(folder, u"Tavrin", path)) {
        userAppPath.clear();
        log.funcLine(u"CDevApp::getUserAppPath", u"Get Local AppData Path Fail\r\n");
        return;
    }
    platform::createFolder(path);  // a folder that already exists is fine
    userAppPath = path;
}

void CDevApp::initObj() {
    log.createTextBuffer();

    constexpr const char16_t* kInit = u"CDevApp::initObj";
    if (platform::isOsVersionAtLeast(6, 1, 0)) {
        osLevel = 2;
        log.funcLine(kInit, u"IsWindows7OrGreater\r\n");
    } else if (platform::isOsVersionAtLeast(5, 1, 0)) {
        osLevel = 1;
        log.funcLine(kInit, u"IsWindowsXPOrGreater\r\n");
    } else {
        osLevel = 0;
        log.funcLine(kInit, u"Not IsWindowsXPOrGreater\r\n");
    }

    getUserAppPath();

    if (!settings.load(userAppPath)) log.funcLine(kInit, u"Load DLL Config Fail\r\n");
    platform::usb::setSystemRoot(settings.UsbSysRoot);

    CNetPort::initClass();  // a failure is only logged

    if (!log.isOpen() && settings.LogEnable != 0) log.openLog(settings.LogPath.c_str());

    const std::uint32_t tid = platform::currentThreadId();
    log.funcLine(u"DllMain", u"DLL_PROCESS_ATTACH 0x%x\r\n", tid);
}

void CDevApp::exitObj() {
    detaching.store(true);
    log.funcLine(u"DllMain", u"DLL_PROCESS_DETACH 0x%x\r\n", platform::currentThreadId());
    devices.emptyAll();
    CNetPort::unInitClass();
    log.closeLog();
    log.freeTextBuffer();
}

}  // namespace tavrin

namespace tavrin::entry {

// Loading and unloading never fail on the library's account.
void processAttach() {
    try {
        theApp().initObj();
    } catch (...) {
    }
}

void processDetach() {
    try {
        theApp().exitObj();
    } catch (...) {
    }
}

void otherNotification(std::uint32_t) {
    try {
        theLog().funcLine(u"DllMain", u"DllMain default  0x%x\r\n", platform::currentThreadId());
    } catch (...) {
    }
}

}  // namespace tavrin::entry
