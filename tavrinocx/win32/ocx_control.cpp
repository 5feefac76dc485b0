// The control object: its script methods over ControlMethods, dispatch through its type
// information, and the OLE interfaces of a control that a container sites, activates in place and
// draws.
#include "tavrinocx/win32/ocx_control.h"

#include <new>
#include <string>

#include "tavrinocx/win32/ocx_module.h"
#include "tavrinocx/win32/ocx_resources.h"

namespace tavrin::ocx::win32 {
namespace {

constexpr wchar_t kWindowClass[] = L"TavrinOcxWindow";
bool windowClassRegistered = false;

std::u16string fromBstr(BSTR text) {
    if (text == nullptr) return {};
    return std::u16string(reinterpret_cast<const char16_t*>(text), SysStringLen(text));
}

HRESULT toBstr(const std::u16string& text, BSTR* result) {
    *result = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
    return *result != nullptr ? S_OK : E_OUTOFMEMORY;
}

// A method's body: its result pointer checked, no exception leaves it.
template <typename Result, typename Body>
HRESULT method(Result* result, Body body) {
    if (result == nullptr) return E_POINTER;
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        const HDC hdc = BeginPaint(window, &ps);
        RECT client;
        GetClientRect(window, &client);
        TavrinOcxControl::paint(hdc, client);
        EndPaint(window, &ps);
        return 0;
    }
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

bool ensureWindowClass() {
    if (windowClassRegistered) return true;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = windowProcedure;
    wc.hInstance = moduleInstance();
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = kWindowClass;
    windowClassRegistered = RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    return windowClassRegistered;
}

INT_PTR CALLBACK aboutProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    default: return FALSE;
    }
}

// The list of the control's connection points: its one point.
class PointEnumerator final : public IEnumConnectionPoints {
public:
    PointEnumerator(IConnectionPoint* point, ULONG at) : point_(point), at_(at) {
        point_->AddRef();
        lockModule();
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumConnectionPoints)) {
            *object = static_cast<IEnumConnectionPoints*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG n = InterlockedDecrement(&references_);
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, IConnectionPoint** points, ULONG* fetched) override {
        if (points == nullptr || (count > 1 && fetched == nullptr)) return E_POINTER;
        ULONG n = 0;
        if (count > 0 && at_ == 0) {
            points[0] = point_;
            point_->AddRef();
            at_ = 1;
            n = 1;
        }
        if (fetched != nullptr) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        const bool all = at_ + count <= 1;
        at_ = at_ + count > 1 ? 1 : at_ + count;
        return all ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        at_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumConnectionPoints** copy) override {
        if (copy == nullptr) return E_POINTER;
        *copy = new (std::nothrow) PointEnumerator(point_, at_);
        return *copy != nullptr ? S_OK : E_OUTOFMEMORY;
    }

private:
    ~PointEnumerator() {
        point_->Release();
        unlockModule();
    }
    LONG references_ = 1;
    IConnectionPoint* point_;
    ULONG at_;
};

template <typename T>
void releaseAndClear(T*& p) {
    if (p != nullptr) p->Release();
    p = nullptr;
}

}  // namespace

// ---- The connection point of the events interface.

EventsConnectionPoint::~EventsConnectionPoint() {
    for (IUnknown* sink : sinks_)
        if (sink != nullptr) sink->Release();
}

HRESULT EventsConnectionPoint::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IConnectionPoint)) {
        *object = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG EventsConnectionPoint::AddRef() { return control_.AddRef(); }
ULONG EventsConnectionPoint::Release() { return control_.Release(); }

HRESULT EventsConnectionPoint::GetConnectionInterface(IID* iid) {
    if (iid == nullptr) return E_POINTER;
    *iid = kIidDTavrinOcxEvents;
    return S_OK;
}

HRESULT EventsConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (container == nullptr) return E_POINTER;
    *container = &control_;
    control_.AddRef();
    return S_OK;
}

HRESULT EventsConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (sink == nullptr || cookie == nullptr) return E_POINTER;
    *cookie = 0;
    IUnknown* events = nullptr;
    if (FAILED(sink->QueryInterface(kIidDTavrinOcxEvents, reinterpret_cast<void**>(&events))) &&
        FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&events))))
        return CONNECT_E_CANNOTCONNECT;
    try {
        sinks_.push_back(events);
    } catch (...) {
        events->Release();
        return E_OUTOFMEMORY;
    }
    *cookie = static_cast<DWORD>(sinks_.size());
    return S_OK;
}

HRESULT EventsConnectionPoint::Unadvise(DWORD cookie) {
    if (cookie == 0 || cookie > sinks_.size() || sinks_[cookie - 1] == nullptr) return CONNECT_E_NOCONNECTION;
    releaseAndClear(sinks_[cookie - 1]);
    return S_OK;
}

HRESULT EventsConnectionPoint::EnumConnections(IEnumConnections** connections) {
    if (connections != nullptr) *connections = nullptr;
    return E_NOTIMPL;
}

// ---- Creation and lifetime.

TavrinOcxControl::TavrinOcxControl() { lockModule(); }

TavrinOcxControl::~TavrinOcxControl() {
    InPlaceDeactivate();
    releaseAndClear(site_);
    releaseAndClear(adviseHolder_);
    releaseAndClear(viewSink_);
    releaseAndClear(methodsInfo_);
    releaseAndClear(dispatchInfo_);
    releaseAndClear(library_);
    unlockModule();
}

HRESULT TavrinOcxControl::create(REFIID riid, void** object) {
    TavrinOcxControl* control = new (std::nothrow) TavrinOcxControl();
    if (control == nullptr) return E_OUTOFMEMORY;
    HRESULT hr = control->init();
    if (SUCCEEDED(hr)) hr = control->QueryInterface(riid, object);
    control->Release();
    return hr;
}

HRESULT TavrinOcxControl::init() {
    library_ = loadModuleTypeLibrary(kTypeLibrary);
    if (library_ == nullptr || FAILED(library_->GetTypeInfoOfGuid(kIidDTavrinOcx, &dispatchInfo_)))
        return TYPE_E_CANTLOADLIBRARY;
    // The methods' vtable: the interface side of the dual interface.
    ITypeLib* methods = loadModuleTypeLibrary(kMethodsTypeLibrary);
    if (methods == nullptr) return TYPE_E_CANTLOADLIBRARY;
    ITypeInfo* dispatchSide = nullptr;
    HRESULT hr = methods->GetTypeInfoOfGuid(kIidTavrinOcxMethods, &dispatchSide);
    methods->Release();
    if (FAILED(hr)) return hr;
    HREFTYPE vtableSide = 0;
    if (SUCCEEDED(dispatchSide->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableSide)) &&
        SUCCEEDED(dispatchSide->GetRefTypeInfo(vtableSide, &methodsInfo_))) {
        dispatchSide->Release();
    } else {
        methodsInfo_ = dispatchSide;
    }

    try {
        if (binding_.bind(moduleFolder())) {
            methods_ = ControlMethods(binding_.entries());
        } else {
            // The control is still created; its methods answer their failures.
            MessageBoxW(nullptr, L"\u52a0\u8f7dTavrinDll.dll\u5931\u8d25", L"tip", MB_OK);
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

void TavrinOcxControl::moduleDetach() {
    if (windowClassRegistered) UnregisterClassW(kWindowClass, moduleInstance());
    windowClassRegistered = false;
}

HRESULT TavrinOcxControl::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    void* p = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, kIidDTavrinOcx) ||
        IsEqualIID(riid, kIidTavrinOcxMethods))
        p = static_cast<ITavrinOcxMethods*>(this);
    else if (IsEqualIID(riid, IID_IOleObject))
        p = static_cast<IOleObject*>(this);
    else if (IsEqualIID(riid, IID_IOleControl))
        p = static_cast<IOleControl*>(this);
    else if (IsEqualIID(riid, IID_IOleWindow) || IsEqualIID(riid, IID_IOleInPlaceObject))
        p = static_cast<IOleInPlaceObject*>(this);
    else if (IsEqualIID(riid, IID_IViewObject) || IsEqualIID(riid, IID_IViewObject2))
        p = static_cast<IViewObject2*>(this);
    else if (IsEqualIID(riid, IID_IPersist) || IsEqualIID(riid, IID_IPersistStreamInit))
        p = static_cast<IPersistStreamInit*>(this);
    else if (IsEqualIID(riid, IID_IPersistPropertyBag))
        p = static_cast<IPersistPropertyBag*>(this);
    else if (IsEqualIID(riid, IID_IProvideClassInfo) || IsEqualIID(riid, IID_IProvideClassInfo2))
        p = static_cast<IProvideClassInfo2*>(this);
    else if (IsEqualIID(riid, IID_IConnectionPointContainer))
        p = static_cast<IConnectionPointContainer*>(this);
    else if (IsEqualIID(riid, IID_IObjectSafety))
        p = static_cast<IObjectSafety*>(this);
    *object = p;
    if (p == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG TavrinOcxControl::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

ULONG TavrinOcxControl::Release() {
    const LONG n = InterlockedDecrement(&references_);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
}

// ---- IDispatch

HRESULT TavrinOcxControl::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT TavrinOcxControl::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    dispatchInfo_->AddRef();
    *info = dispatchInfo_;
    return S_OK;
}

HRESULT TavrinOcxControl::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return DispGetIDsOfNames(dispatchInfo_, names, count, ids);
}

HRESULT TavrinOcxControl::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                 EXCEPINFO* exception, UINT* argument) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return methodsInfo_->Invoke(static_cast<ITavrinOcxMethods*>(this), id, flags, params, result, exception,
                                argument);
}

// ---- The script methods

HRESULT TavrinOcxControl::EnumDevPath(LONG portType, BSTR pathStr, LONG vID, LONG pID, BSTR* result) {
    return method(result, [&] { return toBstr(methods_.enumDevPath(portType, fromBstr(pathStr), vID, pID), result); });
}

HRESULT TavrinOcxControl::EnumProtoCode(LONG idx, BSTR* result) {
    return method(result, [&] { return toBstr(methods_.enumProtoCode(idx), result); });
}

HRESULT TavrinOcxControl::OpenDev(BSTR path, LONG readTimeout, LONG writeTimeout, LONG portType, LONG portMode,
                                  LONG* result) {
    return method(result, [&] {
        *result = methods_.openDev(fromBstr(path), readTimeout, writeTimeout, portType, portMode);
        return S_OK;
    });
}

HRESULT TavrinOcxControl::DevIoCtrl(BSTR ctrlCode, BSTR inDats, LONG handle, BSTR* result) {
    return method(result, [&] { return toBstr(methods_.devIoCtrl(fromBstr(ctrlCode), fromBstr(inDats), handle), result); });
}

HRESULT TavrinOcxControl::CloseDev(LONG pHandle, VARIANT_BOOL* result) {
    return method(result, [&] {
        *result = methods_.closeDev(pHandle) ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    });
}

HRESULT TavrinOcxControl::GetDevType(LONG hDev, BSTR* result) {
    return method(result, [&] { return toBstr(methods_.getDevType(hDev), result); });
}

HRESULT TavrinOcxControl::GetCfgInfo(LONG hDev, BSTR* result) {
    return method(result, [&] { return toBstr(methods_.getCfgInfo(hDev), result); });
}

HRESULT TavrinOcxControl::SetCfgInfo(LONG hDev, BSTR name, BSTR val, BSTR* result) {
    return method(result, [&] { return toBstr(methods_.setCfgInfo(hDev, fromBstr(name), fromBstr(val)), result); });
}

HRESULT TavrinOcxControl::AboutBox() {
    // Modal over the control's window, or over the container's when it is not active in place.
    HWND owner = window_;
    if (owner == nullptr && inPlaceSite_ != nullptr) inPlaceSite_->GetWindow(&owner);
    DialogBoxParamW(moduleInstance(), MAKEINTRESOURCEW(kDialogAbout), owner, aboutProcedure, 0);
    return S_OK;
}

// ---- IOleObject

HRESULT TavrinOcxControl::SetClientSite(IOleClientSite* site) {
    if (site != nullptr) site->AddRef();
    releaseAndClear(site_);
    site_ = site;
    return S_OK;
}

HRESULT TavrinOcxControl::GetClientSite(IOleClientSite** site) {
    if (site == nullptr) return E_POINTER;
    *site = site_;
    if (site_ != nullptr) site_->AddRef();
    return S_OK;
}

HRESULT TavrinOcxControl::SetHostNames(LPCOLESTR, LPCOLESTR) { return S_OK; }

HRESULT TavrinOcxControl::Close(DWORD) {
    InPlaceDeactivate();
    if (adviseHolder_ != nullptr) adviseHolder_->SendOnClose();
    return S_OK;
}

HRESULT TavrinOcxControl::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }

HRESULT TavrinOcxControl::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
    if (moniker != nullptr) *moniker = nullptr;
    return E_NOTIMPL;
}

HRESULT TavrinOcxControl::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }

HRESULT TavrinOcxControl::GetClipboardData(DWORD, IDataObject** data) {
    if (data != nullptr) *data = nullptr;
    return E_NOTIMPL;
}

HRESULT TavrinOcxControl::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent, LPCRECT position) {
    switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_INPLACEACTIVATE:
    case OLEIVERB_UIACTIVATE: return activateInPlace(site != nullptr ? site : site_, parent, position);
    case OLEIVERB_HIDE:
        if (window_ != nullptr) ShowWindow(window_, SW_HIDE);
        return S_OK;
    default: return E_NOTIMPL;
    }
}

HRESULT TavrinOcxControl::activateInPlace(IOleClientSite* site, HWND parent, LPCRECT position) {
    if (window_ != nullptr) {
        ShowWindow(window_, SW_SHOW);
        return S_OK;
    }
    if (site == nullptr) return E_INVALIDARG;
    IOleInPlaceSite* inPlace = nullptr;
    if (FAILED(site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&inPlace)))) return E_NOINTERFACE;
    if (inPlace->CanInPlaceActivate() != S_OK) {
        inPlace->Release();
        return E_FAIL;
    }
    inPlace->OnInPlaceActivate();
    RECT where = position != nullptr ? *position : RECT{0, 0, 0, 0};
    if (parent == nullptr) inPlace->GetWindow(&parent);
    IOleInPlaceFrame* frame = nullptr;
    IOleInPlaceUIWindow* document = nullptr;
    RECT pos = {}, clip = {};
    OLEINPLACEFRAMEINFO frameInfo = {};
    frameInfo.cb = sizeof frameInfo;
    if (SUCCEEDED(inPlace->GetWindowContext(&frame, &document, &pos, &clip, &frameInfo)) && position == nullptr)
        where = pos;
    releaseAndClear(frame);
    releaseAndClear(document);
    if (!ensureWindowClass()) {
        inPlace->OnInPlaceDeactivate();
        inPlace->Release();
        return E_FAIL;
    }
    window_ = CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, where.left, where.top,
                              where.right - where.left, where.bottom - where.top, parent, nullptr, moduleInstance(),
                              nullptr);
    if (window_ == nullptr) {
        inPlace->OnInPlaceDeactivate();
        inPlace->Release();
        return E_FAIL;
    }
    inPlaceSite_ = inPlace;
    return S_OK;
}

HRESULT TavrinOcxControl::EnumVerbs(IEnumOLEVERB** verbs) {
    if (verbs != nullptr) *verbs = nullptr;
    return E_NOTIMPL;
}

HRESULT TavrinOcxControl::Update() { return S_OK; }
HRESULT TavrinOcxControl::IsUpToDate() { return S_OK; }

HRESULT TavrinOcxControl::GetUserClassID(CLSID* clsid) {
    if (clsid == nullptr) return E_POINTER;
    *clsid = kClsidTavrinOcx;
    return S_OK;
}

HRESULT TavrinOcxControl::GetUserType(DWORD, LPOLESTR* type) {
    if (type != nullptr) *type = nullptr;
    return OLE_S_USEREG;
}

HRESULT TavrinOcxControl::SetExtent(DWORD aspect, SIZEL* size) {
    if (size == nullptr) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    extent_ = *size;
    return S_OK;
}

HRESULT TavrinOcxControl::GetExtent(DWORD aspect, SIZEL* size) {
    if (size == nullptr) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    *size = extent_;
    return S_OK;
}

HRESULT TavrinOcxControl::Advise(IAdviseSink* sink, DWORD* connection) {
    if (adviseHolder_ == nullptr && FAILED(CreateOleAdviseHolder(&adviseHolder_))) return E_OUTOFMEMORY;
    return adviseHolder_->Advise(sink, connection);
}

HRESULT TavrinOcxControl::Unadvise(DWORD connection) {
    if (adviseHolder_ == nullptr) return OLE_E_NOCONNECTION;
    return adviseHolder_->Unadvise(connection);
}

HRESULT TavrinOcxControl::EnumAdvise(IEnumSTATDATA** advise) {
    if (advise == nullptr) return E_POINTER;
    *advise = nullptr;
    if (adviseHolder_ == nullptr) return S_OK;
    return adviseHolder_->EnumAdvise(advise);
}

HRESULT TavrinOcxControl::GetMiscStatus(DWORD, DWORD* status) {
    if (status == nullptr) return E_POINTER;
    *status = kMiscStatus;
    return S_OK;
}

HRESULT TavrinOcxControl::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

// ---- IOleControl

HRESULT TavrinOcxControl::GetControlInfo(CONTROLINFO* info) {
    if (info == nullptr) return E_POINTER;
    info->cb = sizeof *info;
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
}

HRESULT TavrinOcxControl::OnMnemonic(MSG*) { return E_NOTIMPL; }
HRESULT TavrinOcxControl::OnAmbientPropertyChange(DISPID) { return S_OK; }
HRESULT TavrinOcxControl::FreezeEvents(BOOL) { return S_OK; }

// ---- IOleWindow, IOleInPlaceObject

HRESULT TavrinOcxControl::GetWindow(HWND* window) {
    if (window == nullptr) return E_POINTER;
    *window = window_;
    return window_ != nullptr ? S_OK : E_FAIL;
}

HRESULT TavrinOcxControl::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

HRESULT TavrinOcxControl::InPlaceDeactivate() {
    if (window_ != nullptr) DestroyWindow(window_);
    window_ = nullptr;
    if (inPlaceSite_ != nullptr) inPlaceSite_->OnInPlaceDeactivate();
    releaseAndClear(inPlaceSite_);
    return S_OK;
}

HRESULT TavrinOcxControl::UIDeactivate() { return S_OK; }

HRESULT TavrinOcxControl::SetObjectRects(LPCRECT position, LPCRECT) {
    if (position == nullptr) return E_POINTER;
    if (window_ != nullptr)
        MoveWindow(window_, position->left, position->top, position->right - position->left,
                   position->bottom - position->top, TRUE);
    return S_OK;
}

HRESULT TavrinOcxControl::ReactivateAndUndo() { return E_NOTIMPL; }

// ---- IViewObject, IViewObject2

void TavrinOcxControl::paint(HDC hdc, const RECT& rect) {
    FillRect(hdc, &rect, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    const HGDIOBJ pen = SelectObject(hdc, GetStockObject(BLACK_PEN));
    const HGDIOBJ brush = SelectObject(hdc, GetStockObject(WHITE_BRUSH));
    Ellipse(hdc, rect.left, rect.top, rect.right, rect.bottom);
    SelectObject(hdc, brush);
    SelectObject(hdc, pen);
}

HRESULT TavrinOcxControl::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC hdc, LPCRECTL bounds, LPCRECTL,
                               BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (hdc == nullptr || bounds == nullptr) return E_INVALIDARG;
    const RECT rect = {bounds->left, bounds->top, bounds->right, bounds->bottom};
    paint(hdc, rect);
    return S_OK;
}

HRESULT TavrinOcxControl::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colors) {
    if (colors == nullptr) return E_POINTER;
    *colors = nullptr;
    return S_FALSE;
}

HRESULT TavrinOcxControl::Freeze(DWORD, LONG, void*, DWORD*) { return E_NOTIMPL; }
HRESULT TavrinOcxControl::Unfreeze(DWORD) { return E_NOTIMPL; }

HRESULT TavrinOcxControl::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
    if (sink != nullptr) sink->AddRef();
    releaseAndClear(viewSink_);
    viewSink_ = sink;
    viewAspects_ = aspects;
    viewFlags_ = flags;
    return S_OK;
}

HRESULT TavrinOcxControl::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
    if (aspects != nullptr) *aspects = viewAspects_;
    if (flags != nullptr) *flags = viewFlags_;
    if (sink != nullptr) {
        *sink = viewSink_;
        if (viewSink_ != nullptr) viewSink_->AddRef();
    }
    return S_OK;
}

HRESULT TavrinOcxControl::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
    return GetExtent(aspect, size);
}

// ---- IPersist, IPersistStreamInit, IPersistPropertyBag

HRESULT TavrinOcxControl::GetClassID(CLSID* clsid) { return GetUserClassID(clsid); }
HRESULT TavrinOcxControl::IsDirty() { return S_FALSE; }
HRESULT TavrinOcxControl::Load(LPSTREAM stream) { return stream != nullptr ? S_OK : E_POINTER; }
HRESULT TavrinOcxControl::Save(LPSTREAM stream, BOOL) { return stream != nullptr ? S_OK : E_POINTER; }

HRESULT TavrinOcxControl::GetSizeMax(ULARGE_INTEGER* size) {
    if (size == nullptr) return E_POINTER;
    size->QuadPart = 0;
    return S_OK;
}

HRESULT TavrinOcxControl::InitNew() { return S_OK; }
HRESULT TavrinOcxControl::Load(IPropertyBag* bag, IErrorLog*) { return bag != nullptr ? S_OK : E_POINTER; }
HRESULT TavrinOcxControl::Save(IPropertyBag* bag, BOOL, BOOL) { return bag != nullptr ? S_OK : E_POINTER; }

// ---- IProvideClassInfo, IProvideClassInfo2

HRESULT TavrinOcxControl::GetClassInfo(ITypeInfo** info) {
    if (info == nullptr) return E_POINTER;
    return library_->GetTypeInfoOfGuid(kClsidTavrinOcx, info);
}

HRESULT TavrinOcxControl::GetGUID(DWORD kind, GUID* guid) {
    if (guid == nullptr) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
    *guid = kIidDTavrinOcxEvents;
    return S_OK;
}

// ---- IConnectionPointContainer

HRESULT TavrinOcxControl::EnumConnectionPoints(IEnumConnectionPoints** points) {
    if (points == nullptr) return E_POINTER;
    *points = new (std::nothrow) PointEnumerator(&events_, 0);
    return *points != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT TavrinOcxControl::FindConnectionPoint(REFIID riid, IConnectionPoint** point) {
    if (point == nullptr) return E_POINTER;
    *point = nullptr;
    if (!IsEqualIID(riid, kIidDTavrinOcxEvents)) return CONNECT_E_NOCONNECTION;
    *point = &events_;
    events_.AddRef();
    return S_OK;
}

// ---- IObjectSafety

HRESULT TavrinOcxControl::GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled) {
    if (supported == nullptr || enabled == nullptr) return E_POINTER;
    IUnknown* p = nullptr;
    const HRESULT hr = QueryInterface(riid, reinterpret_cast<void**>(&p));
    if (SUCCEEDED(hr)) p->Release();
    *supported = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
    *enabled = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
    return hr;
}

HRESULT TavrinOcxControl::SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled) {
    IUnknown* p = nullptr;
    if (FAILED(QueryInterface(riid, reinterpret_cast<void**>(&p)))) return E_NOINTERFACE;
    p->Release();
    constexpr DWORD known = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
    if ((mask & ~known) != 0) return E_FAIL;
    return (enabled & mask) == mask ? S_OK : E_FAIL;
}

}  // namespace tavrin::ocx::win32
