// The identifiers of the control (its class, type library and interfaces, as in tavrinocx.idl and
// tavrinocx_methods.idl) and the C++ declaration of its vtable of script methods.
#pragma once

#include "tavrinocx/win32/com_api.h"

namespace tavrin::ocx::win32 {

// {71683840-8C48-40C6-8AD2-209912F35CF2}, coclass TavrinOcx.
inline constexpr CLSID kClsidTavrinOcx = {0x71683840, 0x8C48, 0x40C6, {0x8A, 0xD2, 0x20, 0x99, 0x12, 0xF3, 0x5C, 0xF2}};
// {6E67E637-2D13-4DC5-B19C-0CC40D30DBFD}, library TavrinOcxLib 1.0.
inline constexpr GUID kLibidTavrinOcx = {0x6E67E637, 0x2D13, 0x4DC5, {0xB1, 0x9C, 0x0C, 0xC4, 0x0D, 0x30, 0xDB, 0xFD}};
// {EC910A3E-0ECB-43D6-8BAB-43FD5EC58A56}, dispinterface _DTavrinOcx.
inline constexpr IID kIidDTavrinOcx = {0xEC910A3E, 0x0ECB, 0x43D6, {0x8B, 0xAB, 0x43, 0xFD, 0x5E, 0xC5, 0x8A, 0x56}};
// {2942500E-37C8-46DE-8421-FB5E5B42A917}, dispinterface _DTavrinOcxEvents.
inline constexpr IID kIidDTavrinOcxEvents = {0x2942500E, 0x37C8, 0x46DE,
                                             {0x84, 0x21, 0xFB, 0x5E, 0x5B, 0x42, 0xA9, 0x17}};
// {4058B7A4-6DAC-42EB-98F1-50C07D92F2F4}, interface ITavrinOcxMethods (TYPELIB 2, not registered).
inline constexpr IID kIidTavrinOcxMethods = {0x4058B7A4, 0x6DAC, 0x42EB,
                                             {0x98, 0xF1, 0x50, 0xC0, 0x7D, 0x92, 0xF2, 0xF4}};

inline constexpr wchar_t kProgId[] = L"TAVRINOCX.TavrinOcxCtrl.1";
inline constexpr WORD kLibraryMajor = 1;
inline constexpr WORD kLibraryMinor = 0;
// The type library resources of the module.
inline constexpr int kTypeLibrary = 1;
inline constexpr int kMethodsTypeLibrary = 2;

// OLEMISC_SETCLIENTSITEFIRST | OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INSIDEOUT |
// OLEMISC_CANTLINKINSIDE | OLEMISC_RECOMPOSEONRESIZE
inline constexpr DWORD kMiscStatus = 0x20191;
static_assert(kMiscStatus == (OLEMISC_SETCLIENTSITEFIRST | OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INSIDEOUT |
                              OLEMISC_CANTLINKINSIDE | OLEMISC_RECOMPOSEONRESIZE));

// The script methods in the slot order of ITavrinOcxMethods in tavrinocx_methods.idl, after
// IDispatch's. ITypeInfo::Invoke calls them by that order.
struct ITavrinOcxMethods : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE EnumDevPath(LONG portType, BSTR pathStr, LONG vID, LONG pID, BSTR* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumProtoCode(LONG idx, BSTR* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenDev(BSTR path, LONG readTimeout, LONG writeTimeout, LONG portType,
                                              LONG portMode, LONG* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE DevIoCtrl(BSTR ctrlCode, BSTR inDats, LONG handle, BSTR* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE CloseDev(LONG pHandle, VARIANT_BOOL* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDevType(LONG hDev, BSTR* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCfgInfo(LONG hDev, BSTR* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCfgInfo(LONG hDev, BSTR name, BSTR val, BSTR* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE AboutBox() = 0;
};

}  // namespace tavrin::ocx::win32
