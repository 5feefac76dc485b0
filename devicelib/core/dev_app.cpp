#include "devicelib/core/dev_app.h"

#include <new>
#include <thread>
#include <type_traits>

#include "devicelib/ports/net_port.h"
#include "platform/library_entry.h"
#include "platform/sync.h"
#include "platform/system_info.h"
#include "platform/usb_tree.h"

namespace tavrin {

namespace {

// The owner of the application object, and through it of every process-wide object of the
// library (the log, the settings, the device table, the configuration model). The library's entry
// functions build it at process attach and destroy it at the end of process detach, so its order
// is theirs, as under DllMain. The C++ runtime never destroys it: its exit handlers run before the
// destructor functions of a shared object that was loaded at run time and never unloaded, and
// detach would then work on destroyed objects. Where the library's pieces are linked into a
// program without the entry functions (the unit tests), the object is built on first use and
// lives as long as the program.
class AppOwner {
public:
    CDevApp& get() {
        CDevApp* app = app_.load(std::memory_order_acquire);
        return app != nullptr ? *app : build();
    }

    void destroy() {
        CDevApp* app = app_.exchange(nullptr, std::memory_order_acq_rel);
        if (app != nullptr) app->~CDevApp();
    }

private:
    CDevApp& build() {
        while (building_.exchange(true, std::memory_order_acquire)) std::this_thread::yield();
        CDevApp* app = app_.load(std::memory_order_acquire);
        if (app == nullptr) {
            try {
                app = new (storage_) CDevApp();
            } catch (...) {
                building_.store(false, std::memory_order_release);
                throw;
            }
            app_.store(app, std::memory_order_release);
        }
        building_.store(false, std::memory_order_release);
        return *app;
    }

    alignas(CDevApp) unsigned char storage_[sizeof(CDevApp)] = {};
    std::atomic<CDevApp*> app_{nullptr};
    std::atomic<bool> building_{false};
};

// Constant-initialised and trivially destructible: nothing of it runs before the entry functions
// or among the runtime's exit handlers.
constinit AppOwner appOwner;
static_assert(std::is_trivially_destructible_v<AppOwner>);

}  // namespace

CDevApp& theApp() { return appOwner.get(); }

CDevApp::~CDevApp() {
    // The members go in reverse order after this: the configuration model, the table (emptied),
    // the settings, the log (flushed and closed if still open).
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

    CNetPort::initClass(log);  // a failure is only logged

    if (!log.isOpen() && settings.LogEnable != 0) log.openLog(settings.LogPath.c_str());

    const std::uint32_t tid = platform::currentThreadId();
    log.funcLine(u"DllMain", u"DLL_PROCESS_ATTACH 0x%x\r\n", tid);
}

void CDevApp::exitObj() {
    detaching.store(true);
    log.funcLine(u"DllMain", u"DLL_PROCESS_DETACH 0x%x\r\n", platform::currentThreadId());
    devices.emptyAll();
    CNetPort::unInitClass(log);
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

// Detach ends the library's process-wide objects: what the runtime destroys at unload happens
// here, after exitObj, in the order the application object gives (the log goes last).
void processDetach() {
    try {
        theApp().exitObj();
    } catch (...) {
    }
    appOwner.destroy();
}

void otherNotification(std::uint32_t) {
    try {
        theLog().funcLine(u"DllMain", u"DllMain default  0x%x\r\n", platform::currentThreadId());
    } catch (...) {
    }
}

}  // namespace tavrin::entry
