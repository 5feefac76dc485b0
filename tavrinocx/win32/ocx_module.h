// The control's module: its instance handle, its file and folder, and the count of live objects
// and server locks that DllCanUnloadNow answers from.
#pragma once

#include <string>

#include "tavrinocx/win32/com_api.h"

namespace tavrin::ocx::win32 {

HINSTANCE moduleInstance();
// The full path of TavrinOcx.dll, and its folder (narrow, the system's code page) without the
// closing separator.
std::wstring modulePath();
std::string moduleFolder();

void lockModule();
void unlockModule();

// A loaded type library of the module (kTypeLibrary or kMethodsTypeLibrary), not registered;
// null when it cannot be loaded. The caller owns the reference.
ITypeLib* loadModuleTypeLibrary(int resource);

}  // namespace tavrin::ocx::win32
