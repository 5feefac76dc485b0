// The bridge's DLL entry point: process attach and detach, and the end of each thread.
#include "platform/bridge_services.h"
#include "platform/win32/windows_api.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    switch (reason) {
    case DLL_PROCESS_ATTACH: tavrin::bridge::entry::processAttach(); break;
    case DLL_THREAD_DETACH: tavrin::bridge::entry::threadDetach(); break;
    case DLL_PROCESS_DETACH: tavrin::bridge::entry::processDetach(); break;
    default: break;
    }
    return TRUE;
}
