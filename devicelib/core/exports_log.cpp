// The exported functions of the log: open it (by path, or as the settings say), add a record,
// read the record buffer back and close it. Each one runs on the caller's thread; no exception
// leaves it.
#include "devicelib/core/dev_app.h"
#include "devicelib/core/export_guard.h"
#include "devicelib/ports/export_text.h"
#include "tavrin/tavrin.h"

using namespace tavrin;

extern "C" {

TAVRIN_EXPORT std::int32_t TAVRIN_API dllFunc_OpenLog(const tavrin_wchar_t* path) {
    return guarded<std::int32_t>(0, [&]() -> std::int32_t {
        CDevApp& app = theApp();
        if (app.log.isOpen()) return 1;  // the open file is kept
        if (path == nullptr) {
            if (app.settings.LogEnable == 0) return 0;
            return app.log.openLog(app.settings.LogPath.c_str());
        }
        return app.log.openLog(fromExport(path));
    });
}

TAVRIN_EXPORT std::int32_t TAVRIN_API dllFunc_SetLogRecord(const tavrin_wchar_t* text, std::int32_t newLine,
                                                           std::int32_t timeStamp, std::int32_t flush) {
    return guarded<std::int32_t>(0, [&] {
        theLog().setLogRecord(fromExport(text), newLine, timeStamp, flush);
        return 1;
    });
}

TAVRIN_EXPORT const tavrin_wchar_t* TAVRIN_API dllFunc_GetLogRecord(std::uint32_t* count, std::int32_t reset) {
    return guarded<const tavrin_wchar_t*>(nullptr, [&] { return toExport(theLog().getLogRecord(count, reset)); });
}

TAVRIN_EXPORT void TAVRIN_API dllFunc_CloseLog(void) {
    guarded<int>(0, [] {
        theLog().closeLog();
        return 0;
    });
}

}  // extern "C"
