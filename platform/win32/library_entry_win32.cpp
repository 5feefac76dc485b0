// The DLL entry point: hands process attach and detach to the device library.
#include "platform/library_entry.h"
#include "platform/win32/windows_api.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    switch (reason) {
    case DLL_PROCESS_ATTACH: tavrin::entry::processAttach(); break;
    case DLL_PROCESS_DETACH: tavrin::entry::processDetach(); break;
    case DLL_THREAD_ATTACH:
    case DLL_THREAD_DETACH: break;
    default: tavrin::entry::otherNotification(reason); break;
    }
    return TRUE;
}
