// The control in a small container: windowed in-place activation (also when
// the site offers windowless activation), its window class and styles, the
// drawing by window painting, IViewObject::Draw and the GetData metafile,
// deactivation, quick activation, and the engine's notification message.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "fake_filters.h"
#include "converter_session.h"
#include "server_test_support.h"

namespace {

using namespace server_test;
using fakes::PumpFor;
using fakes::PumpUntil;
using testing_support::Bstr;

// A site that offers windowless activation, and is its own in-place frame,
// and records what the control asks of it.
class TestSite final : public IOleClientSite, public IOleInPlaceSiteWindowless, public IOleInPlaceFrame {
public:
    explicit TestSite(HWND window) : window_(window) {}
    virtual ~TestSite() = default;

    RECT pos = {10, 20, 250, 140};
    DWORD activateFlags = ~0u;
    int activations = 0, deactivations = 0, uiActivations = 0, saves = 0;
    ULONG refs = 1;
    IOleInPlaceActiveObject* activeObject = nullptr;  // as the frame was told
    bool ex = true;  // answers IOleInPlaceSiteEx and IOleInPlaceSiteWindowless

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleClientSite))
            *out = static_cast<IOleClientSite*>(this);
        else if (IsEqualIID(iid, IID_IOleWindow) || IsEqualIID(iid, IID_IOleInPlaceSite) ||
                 (ex && (IsEqualIID(iid, IID_IOleInPlaceSiteEx) || IsEqualIID(iid, IID_IOleInPlaceSiteWindowless))))
            *out = static_cast<IOleInPlaceSiteWindowless*>(this);
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    // IOleClientSite
    STDMETHODIMP SaveObject() override { ++saves; return S_OK; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP GetContainer(IOleContainer** c) override { *c = nullptr; return E_NOINTERFACE; }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
    // IOleWindow, IOleInPlaceSite
    STDMETHODIMP GetWindow(HWND* w) override { *w = window_; return S_OK; }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override { ++activations; activateFlags = 0; return S_OK; }
    STDMETHODIMP OnUIActivate() override { ++uiActivations; return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT p, LPRECT clip,
                                  LPOLEINPLACEFRAMEINFO info) override
    {
        *frame = this;
        AddRef();
        *doc = nullptr;
        *p = *clip = pos;
        *info = OLEINPLACEFRAMEINFO{info->cb, FALSE, window_, nullptr, 0};
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { ++deactivations; return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return S_OK; }
    STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }
    // IOleInPlaceSiteEx
    STDMETHODIMP OnInPlaceActivateEx(BOOL* noRedraw, DWORD flags) override
    {
        if (noRedraw) *noRedraw = FALSE;
        ++activations;
        activateFlags = flags;
        return S_OK;
    }
    STDMETHODIMP OnInPlaceDeactivateEx(BOOL) override { ++deactivations; return S_OK; }
    STDMETHODIMP RequestUIActivate() override { return S_OK; }
    // IOleInPlaceSiteWindowless: windowless activation is offered.
    STDMETHODIMP CanWindowlessActivate() override { return S_OK; }
    STDMETHODIMP GetCapture() override { return S_FALSE; }
    STDMETHODIMP SetCapture(BOOL) override { return S_OK; }
    STDMETHODIMP GetFocus() override { return S_FALSE; }
    STDMETHODIMP SetFocus(BOOL) override { return S_OK; }
    STDMETHODIMP GetDC(LPCRECT, DWORD, HDC* dc) override { *dc = nullptr; return E_NOTIMPL; }
    STDMETHODIMP ReleaseDC(HDC) override { return E_NOTIMPL; }
    STDMETHODIMP InvalidateRect(LPCRECT, BOOL) override { return S_OK; }
    STDMETHODIMP InvalidateRgn(HRGN, BOOL) override { return S_OK; }
    STDMETHODIMP ScrollRect(INT, INT, LPCRECT, LPCRECT) override { return E_NOTIMPL; }
    STDMETHODIMP AdjustRect(LPRECT) override { return S_OK; }
    STDMETHODIMP OnDefWindowMessage(UINT, WPARAM, LPARAM, LRESULT*) override { return S_FALSE; }
    // IOleInPlaceUIWindow, IOleInPlaceFrame
    STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) override { activeObject = object; return S_OK; }
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return S_OK; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

private:
    HWND window_;
};

// A 32-bit white bitmap selected into a memory DC.
struct Canvas {
    Canvas(int width, int height) : width(width), height(height), dc(CreateCompatibleDC(nullptr))
    {
        BITMAPINFO bmi = {};
        bmi.bmiHeader = {sizeof bmi.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        bitmap = CreateDIBSection(dc, &bmi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
        old = SelectObject(dc, bitmap);
        std::fill(bits, bits + width * height, 0x00FFFFFFu);
    }
    ~Canvas()
    {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    // Bounding box of the pixels that are not the background colour.
    RECT Ink(DWORD background = 0x00FFFFFF) const
    {
        GdiFlush();
        RECT box = {width, height, -1, -1};
        for (LONG i = 0; i < width * height; ++i) {
            const LONG x = i % width, y = i / width;
            if ((bits[i] & 0x00FFFFFF) != background)
                box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x), std::max(box.bottom, y)};
        }
        return box;
    }

    const LONG width, height;
    const HDC dc;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    DWORD* bits = nullptr;
};

// "ATL 7.0" centred on (cx, baseline): no descenders, so the ink ends at
// the baseline. Unscaled, the ink is as wide as the whole text's in the
// device context's own font.
void ExpectTextCentredAt(const RECT& ink, int cx, int baseline, bool scaled = false)
{
    ASSERT_GE(ink.right, ink.left) << "nothing was drawn";
    EXPECT_NEAR(cx, (ink.left + ink.right) / 2, 3);
    EXPECT_LE(ink.bottom, baseline);
    EXPECT_GE(ink.bottom, baseline - 3);
    EXPECT_GT(ink.right - ink.left, 20);  // seven characters wide
    EXPECT_GT(baseline - ink.top, 4);
    Canvas whole(200, 60);
    TextOutW(whole.dc, 20, 20, L"ATL 7.0", 7);
    const RECT text = whole.Ink();
    if (!scaled) EXPECT_EQ(text.right - text.left, ink.right - ink.left);
}

class Embedding : public ControlTest<IOleObject> {
protected:
    void SetUp() override
    {
        ControlTest::SetUp();
        WNDCLASSW wc = {0, DefWindowProcW, 0, 0, GetModuleHandleW(nullptr), nullptr, nullptr, nullptr, nullptr,
                        L"VellumoTestContainer"};
        RegisterClassW(&wc);
        container_ = CreateWindowExW(0, wc.lpszClassName, L"container", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 400,
                                     300, nullptr, nullptr, wc.hInstance, nullptr);
        ASSERT_NE(nullptr, container_);
        site_ = std::make_unique<TestSite>(container_);
        ASSERT_EQ(S_OK, control_->SetClientSite(site_.get()));
        ASSERT_EQ(S_OK, As<IPersistStreamInit>()->InitNew());
    }
    void TearDown() override
    {
        Release();
        EXPECT_EQ(1u, site_->refs) << "the control keeps a reference on its site";
        if (container_) DestroyWindow(container_);
    }
    // Closes the control and lets it go, as a container does.
    void Release()
    {
        if (!control_) return;
        control_->Close(OLECLOSE_NOSAVE);
        control_->SetClientSite(nullptr);
        control_.Reset();
    }
    // In-place activation in the container; returns the control's window.
    HWND Activate(LONG verb = OLEIVERB_INPLACEACTIVATE)
    {
        EXPECT_EQ(S_OK, control_->DoVerb(verb, nullptr, site_.get(), 0, container_, &site_->pos));
        HWND hwnd = nullptr;
        As<IOleWindow>()->GetWindow(&hwnd);
        return hwnd;
    }
    // Whether the window stands at rect in the container's client area.
    bool PlacedAt(HWND hwnd, const RECT& rect)
    {
        RECT rc;
        GetWindowRect(hwnd, &rc);
        MapWindowPoints(nullptr, container_, reinterpret_cast<POINT*>(&rc), 2);
        return EqualRect(&rc, &rect);
    }

    HWND container_ = nullptr;
    std::unique_ptr<TestSite> site_;
};

// Windowed activation, also when the site offers windowless activation.
TEST_F(Embedding, ActivatesWithItsOwnChildWindowThatPaintsTheTextInItsMiddle)
{
    HWND hwnd = Activate();
    ASSERT_NE(nullptr, hwnd);
    EXPECT_EQ(1, site_->activations);
    EXPECT_EQ(0u, site_->activateFlags & ACTIVATE_WINDOWLESS);
    EXPECT_EQ(container_, GetParent(hwnd));
    wchar_t name[64] = {};
    ASSERT_EQ(12, GetClassNameW(hwnd, name, 64)) << name;  // "ATL:" and eight hexadecimal digits
    EXPECT_EQ(0, wcsncmp(name, L"ATL:", 4)) << name;
    EXPECT_EQ(8u, wcsspn(name + 4, L"0123456789ABCDEF")) << name;
    EXPECT_EQ(0x56000000u, static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE)));
    EXPECT_EQ(0u, static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE)));
    EXPECT_EQ(0, GetWindowTextLengthW(hwnd));
    EXPECT_EQ(static_cast<ULONG_PTR>(CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS), GetClassLongPtrW(hwnd, GCL_STYLE));
    EXPECT_EQ(static_cast<ULONG_PTR>(COLOR_WINDOW + 1), GetClassLongPtrW(hwnd, GCLP_HBRBACKGROUND));
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(LoadCursorW(nullptr, MAKEINTRESOURCEW(32512))), GetClassLongPtrW(hwnd, GCLP_HCURSOR));
    EXPECT_EQ(0u, GetClassLongPtrW(hwnd, GCLP_HICON));
    EXPECT_EQ(nullptr, GetWindow(hwnd, GW_CHILD));
    EXPECT_TRUE(PlacedAt(hwnd, site_->pos));
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    PumpFor(200);
    RECT client;
    GetClientRect(hwnd, &client);
    Canvas canvas(client.right, client.bottom);
    HDC dc = GetDC(hwnd);
    BitBlt(canvas.dc, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
    ReleaseDC(hwnd, dc);
    // The background is the window colour; the text is drawn over it.
    const COLORREF window = GetSysColor(COLOR_WINDOW);
    const DWORD background = (GetRValue(window) << 16) | (GetGValue(window) << 8) | GetBValue(window);
    ExpectTextCentredAt(canvas.Ink(background), client.right / 2, client.bottom / 2);
    // Draw without bounds, while active: the window's client area.
    Canvas drawn(client.right, client.bottom);
    ASSERT_EQ(S_OK, As<IViewObject>()->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, drawn.dc, nullptr,
                                            nullptr, nullptr, 0));
    ExpectTextCentredAt(drawn.Ink(), client.right / 2, client.bottom / 2);

    RECT pos = {30, 40, 130, 90};
    ASSERT_EQ(S_OK, As<IOleInPlaceObject>()->SetObjectRects(&pos, &pos));
    EXPECT_TRUE(PlacedAt(hwnd, pos));
}

// Deactivation destroys the window, tells the frame and lets go of the site's
// in-place interfaces.
TEST_F(Embedding, DeactivationDestroysTheWindow)
{
    ComPtr<IOleInPlaceObject> inPlace = As<IOleInPlaceObject>();
    const ULONG held = site_->refs;
    HWND hwnd = Activate(OLEIVERB_UIACTIVATE);
    ASSERT_TRUE(IsWindow(hwnd));
    EXPECT_EQ(1, site_->uiActivations);
    EXPECT_EQ(As<IOleInPlaceActiveObject>().Get(), site_->activeObject);
    EXPECT_EQ(S_OK, inPlace->InPlaceDeactivate());
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(1, site_->deactivations);
    EXPECT_EQ(nullptr, site_->activeObject);
    EXPECT_EQ(held, site_->refs);
    HWND none = reinterpret_cast<HWND>(1);
    EXPECT_EQ(E_FAIL, inPlace->GetWindow(&none));
    EXPECT_EQ(nullptr, none);
    // Activating again makes a new window, also for a site without
    // IOleInPlaceSiteEx; hidden, it shows again on activation.
    site_->ex = false;
    HWND again = Activate();
    EXPECT_TRUE(IsWindow(again));
    EXPECT_EQ(S_OK, control_->DoVerb(OLEIVERB_HIDE, nullptr, site_.get(), 0, container_, &site_->pos));
    EXPECT_FALSE(IsWindowVisible(again));
    EXPECT_EQ(again, Activate());
    EXPECT_TRUE(IsWindowVisible(again));
    EXPECT_EQ(S_OK, control_->Close(OLECLOSE_SAVEIFDIRTY));
    EXPECT_FALSE(IsWindow(again));
    EXPECT_EQ(2, site_->deactivations);
    EXPECT_EQ(1, site_->saves);  // dirty since InitNew
}

TEST_F(Embedding, DrawAndTheGetDataMetafilePutTheTextInTheMiddleOfTheBounds)
{
    ComPtr<IViewObject> view = As<IViewObject>();
    Canvas canvas(240, 120);
    RECTL bounds = {0, 0, 240, 120};
    ASSERT_EQ(S_OK, view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, canvas.dc, &bounds, nullptr,
                               nullptr, 0));
    ExpectTextCentredAt(canvas.Ink(), 120, 60);

    // Bounds elsewhere on the device, with a viewport origin set by the caller.
    Canvas moved(240, 120);
    SetViewportOrgEx(moved.dc, 20, 10, nullptr);
    RECTL small = {0, 0, 100, 50};
    ASSERT_EQ(S_OK, view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, moved.dc, &small, nullptr,
                               nullptr, 0));
    ExpectTextCentredAt(moved.Ink(), 20 + 50, 10 + 25);
    POINT org = {};
    GetViewportOrgEx(moved.dc, &org);
    EXPECT_EQ(20, org.x);  // the device context is restored
    EXPECT_EQ(TA_NOUPDATECP | TA_LEFT | TA_TOP, GetTextAlign(moved.dc));

    SIZEL extent = {6350, 2540};  // 2.5 x 1 inch
    ASSERT_EQ(S_OK, control_->SetExtent(DVASPECT_CONTENT, &extent));
    ComPtr<IDataObject> data = As<IDataObject>();
    FORMATETC format = {CF_METAFILEPICT, nullptr, DVASPECT_CONTENT, -1, TYMED_MFPICT};
    EXPECT_EQ(S_OK, data->QueryGetData(&format));
    STGMEDIUM medium = {};
    ASSERT_EQ(S_OK, data->GetData(&format, &medium));
    ASSERT_EQ(static_cast<DWORD>(TYMED_MFPICT), medium.tymed);
    auto* picture = static_cast<METAFILEPICT*>(GlobalLock(medium.hMetaFilePict));
    ASSERT_NE(nullptr, picture);
    EXPECT_EQ(MM_ANISOTROPIC, picture->mm);
    EXPECT_EQ(6350, picture->xExt);
    EXPECT_EQ(2540, picture->yExt);
    Canvas played(300, 120);
    SetMapMode(played.dc, MM_ANISOTROPIC);
    SetViewportExtEx(played.dc, 300, 120, nullptr);
    ASSERT_TRUE(PlayMetaFile(played.dc, picture->hMF));
    GlobalUnlock(medium.hMetaFilePict);
    ReleaseStgMedium(&medium);
    ExpectTextCentredAt(played.Ink(), 150, 60, true);
    FORMATETC text = {CF_TEXT, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    EXPECT_EQ(DATA_E_FORMATETC, data->GetData(&text, &medium));
}

TEST_F(Embedding, QuickActivateConnectsTheSinkAndSetsTheSite)
{
    ASSERT_EQ(S_OK, control_->SetClientSite(nullptr));
    ComPtr<IQuickActivate> quick = As<IQuickActivate>();
    Sink sink;
    QACONTAINER container = {sizeof container, site_.get(), nullptr, nullptr, &sink};
    QACONTROL result = {sizeof result};
    ASSERT_EQ(S_OK, quick->QuickActivate(&container, &result));
    EXPECT_EQ(1u, result.dwEventCookie);
    EXPECT_EQ(131473u, result.dwMiscStatus);
    ComPtr<IOleClientSite> current;
    ASSERT_EQ(S_OK, control_->GetClientSite(current.Put()));
    EXPECT_EQ(static_cast<IOleClientSite*>(site_.get()), current.Get());
    current.Reset();
    LoadMissingFile(As<IAtlHalvex>().Get());
    EXPECT_EQ(1u, sink.Events().size());  // onError, through the connected sink

    SIZEL size = {1000, 2000}, back = {};
    EXPECT_EQ(S_OK, quick->SetContentExtent(&size));
    EXPECT_EQ(S_OK, quick->GetContentExtent(&back));
    EXPECT_EQ(1000, back.cx);
    EXPECT_EQ(2000, back.cy);
    quick.Reset();
    Release();
    EXPECT_EQ(1, sink.refs);
}

// The graph the converter builds is told to post its notification message
// to the control's window, also to a new one after the container activated
// the control again: completion and abort arrive as events. The filters are
// the engine tests' in-process doubles.
TEST_F(Embedding, GraphNotificationsReachTheConverterThroughTheControlWindow)
{
    fakes::FakeLab lab;
    ASSERT_TRUE(lab.Register());
    HWND hwnd = Activate();
    ASSERT_NE(nullptr, hwnd);
    ComPtr<IAtlHalvex> control = As<IAtlHalvex>();
    Sink sink;
    ASSERT_EQ(1u, Advise(control.Get(), &sink));

    // Without a graph, the message is answered with 0 and raises nothing.
    EXPECT_EQ(0, SendMessageW(hwnd, WM_USER + 20, 0, 0));
    EXPECT_EQ(S_OK, control->put_SaveFile(Bstr(L"C:\\out\\song.mp3")));
    LONG stage = -1;
    EXPECT_EQ(S_OK, control->get_LoadFile(Bstr(L"C:\\music\\song.rm"), &stage));
    EXPECT_EQ(0, stage);
    EXPECT_EQ(S_OK, control->Convert());
    EXPECT_EQ(S_OK, control->Play());
    // Nor with a graph whose queue holds nothing.
    EXPECT_EQ(0, SendMessageW(hwnd, WM_USER + 20, 0, 0));
    PumpFor(100);
    ASSERT_TRUE(sink.Names().empty()) << sink.Names()[0];

    ComPtr<IMediaEventSink> events;
    ASSERT_NE(nullptr, lab.lastGraph);
    ASSERT_HRESULT_SUCCEEDED(lab.lastGraph->QueryInterface(IID_IMediaEventSink, events.PutVoid()));
    // Plays again, queues the event and waits for what it raises.
    auto raised = [&](long code, bool wait = true) {
        sink.Clear();
        EXPECT_EQ(S_OK, control->Play());
        EXPECT_HRESULT_SUCCEEDED(events->Notify(code, code == EC_COMPLETE ? S_OK : E_FAIL, 0));
        EXPECT_TRUE(!wait || PumpUntil([&] { return !sink.Events().empty(); }));
        return sink.Names();
    };
    EXPECT_EQ((Strings{"finished"}), raised(EC_COMPLETE));
    EXPECT_EQ((Strings{"error 88890"}), raised(EC_ERRORABORT));

    // Deactivated and activated again by the container: the job's events
    // reach the new window, also one the graph queued in between.
    ASSERT_EQ(S_OK, As<IOleInPlaceObject>()->InPlaceDeactivate());
    raised(EC_COMPLETE, false);
    PumpFor(100);
    EXPECT_TRUE(sink.Names().empty());
    ASSERT_TRUE(IsWindow(Activate()));
    EXPECT_TRUE(PumpUntil([&] { return !sink.Events().empty(); }));
    EXPECT_EQ((Strings{"finished"}), sink.Names());
    EXPECT_EQ((Strings{"finished"}), raised(EC_COMPLETE));
    EXPECT_EQ(0, sink.malformed);

    events.Reset();
    control.Reset();
    Release();  // before the doubles go
    EXPECT_EQ(0, lab.liveFilters);
    EXPECT_EQ(1, sink.refs);
}

}  // namespace
