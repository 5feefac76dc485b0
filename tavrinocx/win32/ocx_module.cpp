// The in-process server: the DLL entry point, the class factory of the control, and the four
// exports (class object, unload answer, registration and unregistration).
#include "tavrinocx/win32/ocx_module.h"

#include <new>
#include <string>

#include "tavrinocx/win32/ocx_control.h"
#include "tavrinocx/win32/ocx_ids.h"
#include "tavrinocx/win32/ocx_resources.h"

namespace tavrin::ocx::win32 {
namespace {

HINSTANCE instance = nullptr;
LONG locks = 0;

std::wstring guidText(const GUID& guid) {
    wchar_t text[40] = {};
    if (StringFromGUID2(guid, text, 40) == 0) return {};
    return text;
}

std::wstring resourceText(UINT id, const wchar_t* fallback) {
    const wchar_t* text = nullptr;
    const int n = LoadStringW(instance, id, reinterpret_cast<LPWSTR>(&text), 0);
    return n > 0 ? std::wstring(text, static_cast<std::size_t>(n)) : std::wstring(fallback);
}

// A key of HKEY_CLASSES_ROOT with its default value and, when name is given, one more value.
bool writeKey(const std::wstring& key, const std::wstring& value, const wchar_t* name = nullptr,
              const std::wstring& namedValue = {}) {
    HKEY h = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &h,
                        nullptr) != ERROR_SUCCESS)
        return false;
    const auto set = [h](const wchar_t* valueName, const std::wstring& text) {
        return RegSetValueExW(h, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                              static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    };
    bool ok = set(nullptr, value);
    if (ok && name != nullptr) ok = set(name, namedValue);
    RegCloseKey(h);
    return ok;
}

bool removeKey(const std::wstring& key) {
    // The key itself goes with its sub-keys; one that is not there is gone already.
    const LSTATUS rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

// The keys of the control's class: apartment threading, not insertable, its ProgID, type library
// and version, its miscellaneous status and toolbox bitmap.
bool registerControlClass() {
    const std::wstring path = modulePath();
    const std::wstring clsid = guidText(kClsidTavrinOcx);
    if (path.empty() || clsid.empty()) return false;
    const std::wstring typeName = resourceText(kStringTypeName, L"TavrinOcx Control");
    const std::wstring key = L"CLSID\\" + clsid;
    return writeKey(key, typeName) &&
           writeKey(key + L"\\InprocServer32", path, L"ThreadingModel", L"Apartment") &&
           writeKey(key + L"\\ProgID", kProgId) && writeKey(key + L"\\Control", L"") &&
           writeKey(key + L"\\MiscStatus", L"0") &&
           writeKey(key + L"\\MiscStatus\\1", std::to_wstring(kMiscStatus)) &&
           writeKey(key + L"\\ToolboxBitmap32", path + L", " + std::to_wstring(kBitmapToolbox)) &&
           writeKey(key + L"\\TypeLib", guidText(kLibidTavrinOcx)) &&
           writeKey(key + L"\\Version", std::to_wstring(kLibraryMajor) + L"." + std::to_wstring(kLibraryMinor)) &&
           writeKey(kProgId, typeName) && writeKey(std::wstring(kProgId) + L"\\CLSID", clsid);
}

bool unregisterControlClass() {
    const std::wstring clsid = guidText(kClsidTavrinOcx);
    return !clsid.empty() && removeKey(L"CLSID\\" + clsid) && removeKey(kProgId);
}

class ClassFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // The factory is part of the module: its references are locks of the module.
    ULONG STDMETHODCALLTYPE AddRef() override {
        lockModule();
        return 2;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        unlockModule();
        return 1;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        return TavrinOcxControl::create(riid, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            lockModule();
        else
            unlockModule();
        return S_OK;
    }
};

ClassFactory factory;

}  // namespace

HINSTANCE moduleInstance() { return instance; }

std::wstring modulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(instance, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        if (path.size() >= 32768) return {};
        path.resize(path.size() * 2);
    }
}

std::string moduleFolder() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = GetModuleFileNameA(instance, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        if (path.size() >= 32768) return {};
        path.resize(path.size() * 2);
    }
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

void lockModule() { InterlockedIncrement(&locks); }
void unlockModule() { InterlockedDecrement(&locks); }

ITypeLib* loadModuleTypeLibrary(int resource) {
    std::wstring path = modulePath();
    if (path.empty()) return nullptr;
    if (resource != kTypeLibrary) path += L"\\" + std::to_wstring(resource);
    ITypeLib* library = nullptr;
    if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library))) return nullptr;
    return library;
}

}  // namespace tavrin::ocx::win32

using namespace tavrin::ocx::win32;

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        instance = module;
        DisableThreadLibraryCalls(module);
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        // Unloaded by FreeLibrary (at process exit the system takes everything back itself).
        TavrinOcxControl::moduleDetach();
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, kClsidTavrinOcx)) return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(riid, ppv);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow(void) { return locks == 0 ? S_OK : S_FALSE; }

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer(void) {
    try {
        const std::wstring path = modulePath();
        ITypeLib* library = nullptr;
        if (path.empty() || FAILED(LoadTypeLibEx(path.c_str(), REGKIND_REGISTER, &library))) return SELFREG_E_TYPELIB;
        library->Release();
        return registerControlClass() ? S_OK : SELFREG_E_CLASS;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer(void) {
    try {
        const SYSKIND kind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
        if (FAILED(UnRegisterTypeLib(kLibidTavrinOcx, kLibraryMajor, kLibraryMinor, LOCALE_NEUTRAL, kind)))
            return SELFREG_E_TYPELIB;
        return unregisterControlClass() ? S_OK : SELFREG_E_CLASS;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}
