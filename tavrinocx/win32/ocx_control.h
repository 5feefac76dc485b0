// The control object TavrinOcx: the script methods behind IDispatch (ITypeInfo::Invoke over the
// control's own vtable ITavrinOcxMethods), and the OLE interfaces a container sites, activates,
// draws and asks about it with. It binds the bridge when it is created and lets it go when it is
// destroyed; everything between calls is the binding and the container's objects.
#pragma once

#include <vector>

#include "tavrinocx/bridge_binding.h"
#include "tavrinocx/control_methods.h"
#include "tavrinocx/win32/com_api.h"
#include "tavrinocx/win32/ocx_ids.h"

namespace tavrin::ocx::win32 {

class TavrinOcxControl;

// The control's one connection point, for its events interface (which has no events): it keeps
// the sinks it is given until they are taken back. Part of the control, whose references it uses.
class EventsConnectionPoint final : public IConnectionPoint {
public:
    explicit EventsConnectionPoint(TavrinOcxControl& control) : control_(control) {}
    ~EventsConnectionPoint();
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** container) override;
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override;

private:
    TavrinOcxControl& control_;
    std::vector<IUnknown*> sinks_;  // slot cookie - 1; null once taken back
};

class TavrinOcxControl final : public ITavrinOcxMethods,
                               public IOleObject,
                               public IOleControl,
                               public IOleInPlaceObject,
                               public IViewObject2,
                               public IPersistStreamInit,
                               public IPersistPropertyBag,
                               public IProvideClassInfo2,
                               public IConnectionPointContainer,
                               public IObjectSafety {
public:
    // A new control, asked for riid (its one reference goes to *object).
    static HRESULT create(REFIID riid, void** object);
    // The module is being unloaded: the window class goes.
    static void moduleDetach();

    TavrinOcxControl(const TavrinOcxControl&) = delete;
    TavrinOcxControl& operator=(const TavrinOcxControl&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch: the type information of _DTavrinOcx; calls go through ITypeInfo::Invoke.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argument) override;

    // The script methods.
    HRESULT STDMETHODCALLTYPE EnumDevPath(LONG portType, BSTR pathStr, LONG vID, LONG pID, BSTR* result) override;
    HRESULT STDMETHODCALLTYPE EnumProtoCode(LONG idx, BSTR* result) override;
    HRESULT STDMETHODCALLTYPE OpenDev(BSTR path, LONG readTimeout, LONG writeTimeout, LONG portType, LONG portMode,
                                      LONG* result) override;
    HRESULT STDMETHODCALLTYPE DevIoCtrl(BSTR ctrlCode, BSTR inDats, LONG handle, BSTR* result) override;
    HRESULT STDMETHODCALLTYPE CloseDev(LONG pHandle, VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE GetDevType(LONG hDev, BSTR* result) override;
    HRESULT STDMETHODCALLTYPE GetCfgInfo(LONG hDev, BSTR* result) override;
    HRESULT STDMETHODCALLTYPE SetCfgInfo(LONG hDev, BSTR name, BSTR val, BSTR* result) override;
    HRESULT STDMETHODCALLTYPE AboutBox() override;

    // IOleObject
    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override;
    HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override;
    HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR app, LPCOLESTR object) override;
    HRESULT STDMETHODCALLTYPE Close(DWORD saveOption) override;
    HRESULT STDMETHODCALLTYPE SetMoniker(DWORD which, IMoniker* moniker) override;
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
    HRESULT STDMETHODCALLTYPE InitFromData(IDataObject* data, BOOL creation, DWORD reserved) override;
    HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD reserved, IDataObject** data) override;
    HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG msg, IOleClientSite* site, LONG index, HWND parent,
                                     LPCRECT position) override;
    HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB** verbs) override;
    HRESULT STDMETHODCALLTYPE Update() override;
    HRESULT STDMETHODCALLTYPE IsUpToDate() override;
    HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* clsid) override;
    HRESULT STDMETHODCALLTYPE GetUserType(DWORD form, LPOLESTR* type) override;
    HRESULT STDMETHODCALLTYPE SetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT STDMETHODCALLTYPE Advise(IAdviseSink* sink, DWORD* connection) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD connection) override;
    HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** advise) override;
    HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD aspect, DWORD* status) override;
    HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE* palette) override;

    // IOleControl
    HRESULT STDMETHODCALLTYPE GetControlInfo(CONTROLINFO* info) override;
    HRESULT STDMETHODCALLTYPE OnMnemonic(MSG* msg) override;
    HRESULT STDMETHODCALLTYPE OnAmbientPropertyChange(DISPID id) override;
    HRESULT STDMETHODCALLTYPE FreezeEvents(BOOL freeze) override;

    // IOleWindow, IOleInPlaceObject
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL enter) override;
    HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override;
    HRESULT STDMETHODCALLTYPE UIDeactivate() override;
    HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT position, LPCRECT clip) override;
    HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override;

    // IViewObject, IViewObject2: white, and an ellipse inside the bounds.
    HRESULT STDMETHODCALLTYPE Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device, HDC target,
                                   HDC hdc, LPCRECTL bounds, LPCRECTL metafileBounds,
                                   BOOL(STDMETHODCALLTYPE* keepGoing)(ULONG_PTR), ULONG_PTR keepGoingArgument) override;
    HRESULT STDMETHODCALLTYPE GetColorSet(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device,
                                          HDC target, LOGPALETTE** colors) override;
    HRESULT STDMETHODCALLTYPE Freeze(DWORD aspect, LONG index, void* aspectInfo, DWORD* freeze) override;
    HRESULT STDMETHODCALLTYPE Unfreeze(DWORD freeze) override;
    HRESULT STDMETHODCALLTYPE SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
    HRESULT STDMETHODCALLTYPE GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, LPSIZEL size) override;

    // IPersist, IPersistStreamInit, IPersistPropertyBag: nothing of its own to keep.
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
    HRESULT STDMETHODCALLTYPE IsDirty() override;
    HRESULT STDMETHODCALLTYPE Load(LPSTREAM stream) override;
    HRESULT STDMETHODCALLTYPE Save(LPSTREAM stream, BOOL clearDirty) override;
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override;
    HRESULT STDMETHODCALLTYPE InitNew() override;
    HRESULT STDMETHODCALLTYPE Load(IPropertyBag* bag, IErrorLog* log) override;
    HRESULT STDMETHODCALLTYPE Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;

    // IProvideClassInfo, IProvideClassInfo2
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) override;

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

    // IObjectSafety: safe for untrusted callers and data on every interface it has; neither can be
    // switched off.
    HRESULT STDMETHODCALLTYPE GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled) override;
    HRESULT STDMETHODCALLTYPE SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled) override;

    // Fills rect white and draws the ellipse inside it (the control's window and Draw).
    static void paint(HDC hdc, const RECT& rect);

private:
    TavrinOcxControl();
    ~TavrinOcxControl();
    HRESULT init();
    HRESULT activateInPlace(IOleClientSite* site, HWND parent, LPCRECT position);

    LONG references_ = 1;
    ITypeLib* library_ = nullptr;
    ITypeInfo* dispatchInfo_ = nullptr;  // _DTavrinOcx: names, DISPIDs, what callers see
    ITypeInfo* methodsInfo_ = nullptr;   // ITavrinOcxMethods: what Invoke calls through
    BridgeBinding binding_;
    ControlMethods methods_{BridgeEntries{}};

    IOleClientSite* site_ = nullptr;
    IOleInPlaceSite* inPlaceSite_ = nullptr;
    IOleAdviseHolder* adviseHolder_ = nullptr;
    IAdviseSink* viewSink_ = nullptr;
    DWORD viewAspects_ = 0;
    DWORD viewFlags_ = 0;
    HWND window_ = nullptr;
    SIZEL extent_ = {2540, 2540};  // HIMETRIC, one inch square
    EventsConnectionPoint events_{*this};
};

}  // namespace tavrin::ocx::win32
