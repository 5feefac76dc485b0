// The control as a container meets it, from its class factory (no registration needed): sited in
// a client site, asked for its safety options, drawn into a memory DC, and called through its
// IDispatch with the type information a script host reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/dynamic_library.h"
#include "tavrinocx/win32/com_api.h"
#include "tavrinocx/win32/ocx_ids.h"

namespace tavrin::ocx::win32 {
namespace {

// A reference that is released at the end of its scope.
template <typename T>
class Ref {
public:
    Ref() = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { reset(); }
    void reset() {
        if (p_ != nullptr) p_->Release();
        p_ = nullptr;
    }
    T** out() {
        reset();
        return &p_;
    }
    void** outVoid() { return reinterpret_cast<void**>(out()); }
    T* operator->() const { return p_; }
    T* get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

// A client site that only counts its references and lends the control no window.
class Site final : public IOleClientSite {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleClientSite)) {
            *object = static_cast<IOleClientSite*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
    HRESULT STDMETHODCALLTYPE SaveObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
        *moniker = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override {
        *container = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

    long references = 1;
};

// A site that lets the control activate in place in a window of its own, and records the calls.
class InPlaceSite final : public IOleClientSite, public IOleInPlaceSite {
public:
    explicit InPlaceSite(HWND window) : window_(window) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleClientSite)) {
            *object = static_cast<IOleClientSite*>(this);
        } else if (IsEqualIID(riid, IID_IOleWindow) || IsEqualIID(riid, IID_IOleInPlaceSite)) {
            *object = static_cast<IOleInPlaceSite*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
    HRESULT STDMETHODCALLTYPE SaveObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
        *moniker = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override {
        *container = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
        *window = window_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override {
        ++activated;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT pos,
                                               LPRECT clip, LPOLEINPLACEFRAMEINFO) override {
        *frame = nullptr;
        *document = nullptr;
        *pos = {5, 6, 45, 36};
        *clip = *pos;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override {
        ++deactivated;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return S_OK; }

    long references = 1;
    int activated = 0;
    int deactivated = 0;

private:
    HWND window_;
};

using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();

class ControlSiteTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        // Beside the test program, as the control's own folder holds the bridge beside it.
        ASSERT_TRUE(library_.open("TavrinOcx.dll"));
        getClassObject_ = reinterpret_cast<GetClassObject>(library_.symbol("DllGetClassObject"));
        canUnloadNow_ = reinterpret_cast<CanUnloadNow>(library_.symbol("DllCanUnloadNow"));
        ASSERT_NE(getClassObject_, nullptr);
        ASSERT_NE(canUnloadNow_, nullptr);
        Ref<IClassFactory> factory;
        ASSERT_EQ(getClassObject_(kClsidTavrinOcx, IID_IClassFactory, factory.outVoid()), S_OK);
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IOleObject, control_.outVoid()), S_OK);
    }
    void TearDown() override {
        control_.reset();
        EXPECT_EQ(canUnloadNow_(), S_OK);  // every object and the factory let go
        library_.close();
        CoUninitialize();
    }

    platform::DynamicLibrary library_;
    GetClassObject getClassObject_ = nullptr;
    CanUnloadNow canUnloadNow_ = nullptr;
    Ref<IOleObject> control_;
};

TEST_F(ControlSiteTest, TheFactory) {
    Ref<IClassFactory> factory;
    IUnknown* none = nullptr;
    EXPECT_EQ(getClassObject_(kIidDTavrinOcx, IID_IClassFactory, reinterpret_cast<void**>(&none)),
              CLASS_E_CLASSNOTAVAILABLE);
    ASSERT_EQ(getClassObject_(kClsidTavrinOcx, IID_IClassFactory, factory.outVoid()), S_OK);
    EXPECT_EQ(factory->CreateInstance(control_.get(), IID_IUnknown, reinterpret_cast<void**>(&none)),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(canUnloadNow_(), S_FALSE);  // the control and the factory are alive
}

TEST_F(ControlSiteTest, SitedInAClientSite) {
    Site site;
    ASSERT_EQ(control_->SetClientSite(&site), S_OK);
    EXPECT_EQ(site.references, 2);
    Ref<IOleClientSite> back;
    ASSERT_EQ(control_->GetClientSite(back.out()), S_OK);
    EXPECT_EQ(back.get(), &site);
    back.reset();
    DWORD status = 0;
    EXPECT_EQ(control_->GetMiscStatus(DVASPECT_CONTENT, &status), S_OK);
    EXPECT_EQ(status, 0x20191u);
    CLSID clsid{};
    EXPECT_EQ(control_->GetUserClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, kClsidTavrinOcx));
    SIZEL extent{1000, 500};
    EXPECT_EQ(control_->SetExtent(DVASPECT_CONTENT, &extent), S_OK);
    extent = {};
    EXPECT_EQ(control_->GetExtent(DVASPECT_CONTENT, &extent), S_OK);
    EXPECT_EQ(extent.cx, 1000);
    EXPECT_EQ(extent.cy, 500);

    // The interfaces a container asks a control for.
    const IID wanted[] = {IID_IDispatch, kIidDTavrinOcx, IID_IOleControl, IID_IOleInPlaceObject, IID_IViewObject2,
                          IID_IPersistStreamInit, IID_IPersistPropertyBag, IID_IProvideClassInfo2,
                          IID_IConnectionPointContainer, IID_IObjectSafety};
    for (const IID& iid : wanted) {
        Ref<IUnknown> p;
        EXPECT_EQ(control_->QueryInterface(iid, p.outVoid()), S_OK);
    }
    Ref<IOleControl> ole;
    ASSERT_EQ(control_->QueryInterface(IID_IOleControl, ole.outVoid()), S_OK);
    CONTROLINFO info{};
    EXPECT_EQ(ole->GetControlInfo(&info), S_OK);
    EXPECT_EQ(info.cb, sizeof info);
    Ref<IPersistStreamInit> persist;
    ASSERT_EQ(control_->QueryInterface(IID_IPersistStreamInit, persist.outVoid()), S_OK);
    EXPECT_EQ(persist->InitNew(), S_OK);
    EXPECT_EQ(persist->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, kClsidTavrinOcx));

    // Events: the one connection point of the empty events interface.
    Ref<IProvideClassInfo2> classInfo;
    ASSERT_EQ(control_->QueryInterface(IID_IProvideClassInfo2, classInfo.outVoid()), S_OK);
    GUID events{};
    EXPECT_EQ(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events), S_OK);
    EXPECT_TRUE(IsEqualIID(events, kIidDTavrinOcxEvents));
    Ref<ITypeInfo> coclass;
    ASSERT_EQ(classInfo->GetClassInfo(coclass.out()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    EXPECT_TRUE(IsEqualCLSID(attr->guid, kClsidTavrinOcx));
    coclass->ReleaseTypeAttr(attr);
    Ref<IConnectionPointContainer> points;
    ASSERT_EQ(control_->QueryInterface(IID_IConnectionPointContainer, points.outVoid()), S_OK);
    Ref<IConnectionPoint> point;
    EXPECT_EQ(points->FindConnectionPoint(IID_IPropertyNotifySink, point.out()), CONNECT_E_NOCONNECTION);
    ASSERT_EQ(points->FindConnectionPoint(kIidDTavrinOcxEvents, point.out()), S_OK);
    IID iid{};
    EXPECT_EQ(point->GetConnectionInterface(&iid), S_OK);
    EXPECT_TRUE(IsEqualIID(iid, kIidDTavrinOcxEvents));
    Ref<IEnumConnectionPoints> all;
    ASSERT_EQ(points->EnumConnectionPoints(all.out()), S_OK);
    IConnectionPoint* listed[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(all->Next(2, listed, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    EXPECT_EQ(listed[0], point.get());
    listed[0]->Release();

    EXPECT_EQ(control_->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(control_->SetClientSite(nullptr), S_OK);
    EXPECT_EQ(site.references, 1);
}

TEST_F(ControlSiteTest, ActivatedInPlaceInAWindowOfItsOwn) {
    const HWND parent = CreateWindowExW(0, L"STATIC", L"container", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                        nullptr, nullptr, nullptr);
    // Wine without a display (the default prefix of the tests) creates no windows at all.
    if (parent == nullptr) GTEST_SKIP() << "no windows on this desktop";
    InPlaceSite site(parent);
    ASSERT_EQ(control_->SetClientSite(&site), S_OK);
    ASSERT_EQ(control_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, parent, nullptr), S_OK);
    EXPECT_EQ(site.activated, 1);
    Ref<IOleInPlaceObject> inPlace;
    ASSERT_EQ(control_->QueryInterface(IID_IOleInPlaceObject, inPlace.outVoid()), S_OK);
    HWND window = nullptr;
    ASSERT_EQ(inPlace->GetWindow(&window), S_OK);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(GetParent(window), parent);
    const auto placed = [&] {
        RECT r{};
        GetWindowRect(window, &r);
        MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
        return r;
    };
    RECT r = placed();
    EXPECT_EQ(r.left, 5);
    EXPECT_EQ(r.bottom, 36);  // where the site's window context put it
    const RECT moved = {10, 10, 60, 30};
    EXPECT_EQ(inPlace->SetObjectRects(&moved, &moved), S_OK);
    r = placed();
    EXPECT_EQ(r.right, 60);
    EXPECT_EQ(control_->DoVerb(OLEIVERB_SHOW, nullptr, &site, 0, parent, nullptr), S_OK);  // active already
    EXPECT_EQ(site.activated, 1);
    EXPECT_EQ(inPlace->InPlaceDeactivate(), S_OK);
    EXPECT_EQ(site.deactivated, 1);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(inPlace->GetWindow(&window), E_FAIL);
    inPlace.reset();
    EXPECT_EQ(control_->SetClientSite(nullptr), S_OK);
    EXPECT_EQ(site.references, 1);
    DestroyWindow(parent);
}

TEST_F(ControlSiteTest, SafeForUntrustedCallersAndData) {
    Ref<IObjectSafety> safety;
    ASSERT_EQ(control_->QueryInterface(IID_IObjectSafety, safety.outVoid()), S_OK);
    const struct {
        const char* what;
        IID iid;
        HRESULT result;
    } gets[] = {
        {"IDispatch", IID_IDispatch, S_OK},
        {"_DTavrinOcx", kIidDTavrinOcx, S_OK},
        {"IPersistStreamInit", IID_IPersistStreamInit, S_OK},
        {"IPersistPropertyBag", IID_IPersistPropertyBag, S_OK},
        {"an interface the control lacks", IID_IClassFactory, E_NOINTERFACE},
    };
    for (const auto& g : gets) {
        SCOPED_TRACE(g.what);
        DWORD supported = 0, enabled = 0;
        EXPECT_EQ(safety->GetInterfaceSafetyOptions(g.iid, &supported, &enabled), g.result);
        EXPECT_EQ(supported, 3u);  // in every case
        EXPECT_EQ(enabled, 3u);
    }
    const struct {
        IID iid;
        DWORD mask, enabled;
        HRESULT result;
    } sets[] = {
        {IID_IDispatch, 3, 3, S_OK},          {IID_IDispatch, 1, 1, S_OK},
        {IID_IDispatch, 2, 3, S_OK},          {IID_IDispatch, 0, 0, S_OK},
        {IID_IDispatch, 3, 1, E_FAIL},        {IID_IDispatch, 1, 0, E_FAIL},  // switching off
        {IID_IDispatch, 4, 4, E_FAIL},        {IID_IDispatch, 7, 7, E_FAIL},  // unknown bits
        {IID_IPersistPropertyBag, 3, 3, S_OK}, {IID_IClassFactory, 1, 1, E_NOINTERFACE},
    };
    for (const auto& s : sets) {
        SCOPED_TRACE(testing::Message() << "mask " << s.mask << ", enabled " << s.enabled);
        EXPECT_EQ(safety->SetInterfaceSafetyOptions(s.iid, s.mask, s.enabled), s.result);
    }
}

TEST_F(ControlSiteTest, DrawsWhiteWithAnEllipseIntoAMemoryDC) {
    Ref<IViewObject2> view;
    ASSERT_EQ(control_->QueryInterface(IID_IViewObject2, view.outVoid()), S_OK);
    constexpr int width = 80, height = 60;
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = -height;  // top-down rows
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const HDC dc = CreateCompatibleDC(nullptr);
    ASSERT_NE(dc, nullptr);
    const HBITMAP bitmap = CreateDIBSection(dc, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(bitmap, nullptr);
    const HGDIOBJ old = SelectObject(dc, bitmap);
    auto* pixels = static_cast<std::uint32_t*>(bits);
    std::fill(pixels, pixels + width * height, 0x00336699u);  // neither white nor black
    const auto at = [&](int x, int y) { return pixels[y * width + x] & 0x00FFFFFFu; };

    const RECTL bounds = {10, 10, 70, 50};  // 60 x 40 inside the bitmap
    EXPECT_EQ(view->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0),
              DV_E_DVASPECT);
    EXPECT_EQ(at(40, 30), 0x00336699u);  // nothing drawn
    ASSERT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0), S_OK);
    GdiFlush();
    const struct {
        const char* what;
        int x, y;
        std::uint32_t colour;
    } points[] = {
        {"a corner of the bounds, outside the ellipse", 11, 11, 0x00FFFFFFu},
        {"the other corner", 68, 48, 0x00FFFFFFu},
        {"the centre", 40, 30, 0x00FFFFFFu},
        {"the ellipse's left end", 10, 30, 0x00000000u},
        {"the ellipse's top", 40, 10, 0x00000000u},
        {"outside the bounds", 5, 5, 0x00336699u},
        {"outside the bounds, right", 75, 30, 0x00336699u},
    };
    for (const auto& p : points) {
        SCOPED_TRACE(p.what);
        EXPECT_EQ(at(p.x, p.y), p.colour);
    }
    SIZEL extent{};
    EXPECT_EQ(view->GetExtent(DVASPECT_CONTENT, -1, nullptr, &extent), S_OK);
    EXPECT_GT(extent.cx, 0);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

// The dispatch interface as a script host reads it: exactly the nine methods, with their DISPIDs,
// parameter names and automation types; and calls through IDispatch::Invoke.
TEST_F(ControlSiteTest, TheDispatchInterface) {
    Ref<IDispatch> dispatch;
    ASSERT_EQ(control_->QueryInterface(IID_IDispatch, dispatch.outVoid()), S_OK);
    Ref<ITypeInfo> info;
    ASSERT_EQ(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.out()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    EXPECT_TRUE(IsEqualIID(attr->guid, kIidDTavrinOcx));
    const UINT functions = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    const struct Method {
        std::wstring name;
        DISPID id;
        std::vector<std::wstring> params;
        std::vector<VARTYPE> types;
        VARTYPE result;
    } methods[] = {
        {L"EnumDevPath", 1, {L"portType", L"pathStr", L"vID", L"pID"}, {VT_I4, VT_BSTR, VT_I4, VT_I4}, VT_BSTR},
        {L"EnumProtoCode", 2, {L"idx"}, {VT_I4}, VT_BSTR},
        {L"OpenDev", 3, {L"path", L"readTimeout", L"writeTimeout", L"portType", L"portMode"},
         {VT_BSTR, VT_I4, VT_I4, VT_I4, VT_I4}, VT_I4},
        {L"DevIoCtrl", 4, {L"ctrlCode", L"inDats", L"handle"}, {VT_BSTR, VT_BSTR, VT_I4}, VT_BSTR},
        {L"CloseDev", 5, {L"pHandle"}, {VT_I4}, VT_BOOL},
        {L"GetDevType", 6, {L"hDev"}, {VT_I4}, VT_BSTR},
        {L"GetCfgInfo", 7, {L"hDev"}, {VT_I4}, VT_BSTR},
        {L"SetCfgInfo", 8, {L"hDev", L"name", L"val"}, {VT_I4, VT_BSTR, VT_BSTR}, VT_BSTR},
        {L"AboutBox", DISPID_ABOUTBOX, {}, {}, VT_VOID},
    };
    ASSERT_EQ(functions, std::size(methods));
    for (UINT i = 0; i < functions; ++i) {
        FUNCDESC* f = nullptr;
        ASSERT_EQ(info->GetFuncDesc(i, &f), S_OK);
        const Method& m = methods[i];
        SCOPED_TRACE(std::string(m.name.begin(), m.name.end()));
        EXPECT_EQ(f->memid, m.id);
        EXPECT_EQ(f->invkind, INVOKE_FUNC);
        EXPECT_EQ(f->elemdescFunc.tdesc.vt, m.result);
        ASSERT_EQ(static_cast<std::size_t>(f->cParams), m.types.size());
        for (SHORT p = 0; p < f->cParams; ++p) EXPECT_EQ(f->lprgelemdescParam[p].tdesc.vt, m.types[p]);
        BSTR names[8] = {};
        UINT count = 0;
        EXPECT_EQ(info->GetNames(f->memid, names, 8, &count), S_OK);
        ASSERT_EQ(count, m.params.size() + 1);
        EXPECT_EQ(std::wstring(names[0]), m.name);
        for (UINT n = 1; n < count; ++n) EXPECT_EQ(std::wstring(names[n]), m.params[n - 1]);
        for (UINT n = 0; n < count; ++n) SysFreeString(names[n]);
        info->ReleaseFuncDesc(f);

        // The same DISPID by name through the control.
        LPOLESTR name = const_cast<LPOLESTR>(m.name.c_str());
        DISPID id = 0;
        EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
        EXPECT_EQ(id, m.id);
    }

    // Calls as a script host makes them, arguments in reverse order, numbers of any type.
    const auto call = [&](DISPID id, std::vector<VARIANT> args, VARIANT& result) {
        DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
        VariantInit(&result);
        EXCEPINFO exception{};
        UINT bad = 0;
        return dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params,
                                &result, &exception, &bad);
    };
    VARIANT number;
    number.vt = VT_R8;
    number.dblVal = 24;
    VARIANT result;
    ASSERT_EQ(call(2, {number}, result), S_OK);
    ASSERT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(std::wstring(result.bstrVal), L"{\"RtnCode\":0,\"RtnVal\":\"CTRL_DEVCMD_ST\",\"code\":128}");
    VariantClear(&result);

    VARIANT handle, data, code;
    handle.vt = VT_I4;
    handle.lVal = 0;
    data.vt = VT_BSTR;
    data.bstrVal = SysAllocString(L"123");
    code.vt = VT_BSTR;
    code.bstrVal = SysAllocString(L"CTRL_CMDGET_MODEL");
    ASSERT_EQ(call(4, {handle, data, code}, result), S_OK);  // odd digits: nothing sent
    ASSERT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(std::wstring(result.bstrVal), L"{\"Result\":0}");
    VariantClear(&result);
    VariantClear(&data);
    VariantClear(&code);

    handle.lVal = 9;
    ASSERT_EQ(call(5, {handle}, result), S_OK);
    EXPECT_EQ(result.vt, VT_BOOL);
    EXPECT_EQ(result.boolVal, VARIANT_FALSE);
    EXPECT_EQ(call(5, {}, result), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(call(99, {}, result), DISP_E_MEMBERNOTFOUND);
}

// The texts of the About box and of the string table, read from the module's resources (the
// dialog itself is modal: the tests never show it).
struct DialogTexts {
    std::wstring caption;
    std::vector<std::wstring> items;
};

// The caption and the item texts of an extended dialog template.
DialogTexts readDialog(const std::uint8_t* at, std::size_t size) {
    DialogTexts out;
    const std::uint8_t* end = at + size;
    const auto word = [&](const std::uint8_t*& p) {
        WORD w = 0;
        if (p + 2 <= end) std::memcpy(&w, p, 2);
        p += 2;
        return w;
    };
    const auto text = [&](const std::uint8_t*& p) {  // a string, or 0xFFFF and an ordinal
        std::wstring t;
        if (word(p) == 0xFFFF) {
            word(p);
            return t;
        }
        p -= 2;
        for (WORD c; p < end && (c = word(p)) != 0;) t += static_cast<wchar_t>(c);
        return t;
    };
    const auto align = [&](const std::uint8_t*& p, std::size_t to) {
        p = at + (static_cast<std::size_t>(p - at) + to - 1) / to * to;
    };
    const std::uint8_t* p = at;
    if (word(p) != 1 || word(p) != 0xFFFF) return out;  // DLGTEMPLATEEX
    p += 4 + 4;                                           // help id, extended style
    DWORD style = 0;
    std::memcpy(&style, p, 4);
    p += 4;
    const WORD count = word(p);
    p += 8;  // x, y, cx, cy
    text(p);  // menu
    text(p);  // class
    out.caption = text(p);
    if (style & (DS_SETFONT | DS_SHELLFONT)) {
        p += 2 + 2 + 1 + 1;  // point size, weight, italic, character set
        text(p);              // typeface
    }
    for (WORD i = 0; i < count && p < end; ++i) {
        align(p, 4);
        p += 4 + 4 + 4 + 8 + 4;  // help id, extended style, style, x, y, cx, cy, id
        text(p);                  // class
        out.items.push_back(text(p));
        const WORD extra = word(p);
        p += extra;
    }
    return out;
}

TEST_F(ControlSiteTest, TheTextsOfItsResources) {
    const HMODULE module = GetModuleHandleW(L"TavrinOcx.dll");
    ASSERT_NE(module, nullptr);
    const struct {
        UINT id;
        std::wstring text;
    } strings[] = {{1, L"TavrinOcx Control"}, {2, L"TavrinOcx Property Page"}, {200, L"\u5e38\u89c4"}};
    for (const auto& s : strings) {
        const wchar_t* text = nullptr;
        const int n = LoadStringW(module, s.id, reinterpret_cast<LPWSTR>(&text), 0);
        ASSERT_GT(n, 0) << s.id;
        EXPECT_EQ(std::wstring(text, static_cast<std::size_t>(n)), s.text);
    }
    const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(100), reinterpret_cast<LPCWSTR>(RT_DIALOG));
    ASSERT_NE(found, nullptr);
    const auto* bytes = static_cast<const std::uint8_t*>(LockResource(LoadResource(module, found)));
    ASSERT_NE(bytes, nullptr);
    const DialogTexts about = readDialog(bytes, SizeofResource(module, found));
    EXPECT_EQ(about.caption, L"\u5173\u4e8e TavrinOcx Control");
    ASSERT_EQ(about.items.size(), 4u);  // the icon, two lines, the button
    EXPECT_EQ(about.items[1], L"TavrinOcx Control 1.0 \u7248");
    EXPECT_FALSE(about.items[2].empty());
    EXPECT_EQ(about.items[3], L"\u786e\u5b9a");
    EXPECT_NE(LoadIconW(module, MAKEINTRESOURCEW(1)), nullptr);
    EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(1), reinterpret_cast<LPCWSTR>(RT_BITMAP)), nullptr);
}

}  // namespace
}  // namespace tavrin::ocx::win32
