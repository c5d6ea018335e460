#include "platform/win32/web_browser.h"

#include <windows.h>

#include <docobj.h>
#include <exdisp.h>
#include <mshtmdid.h>
#include <mshtmhst.h>
#include <ole2.h>
#include <oleauto.h>
#include <oleidl.h>

#include <memory>
#include <new>
#include <string>

#include "platform/browser.h"
#include "platform/error.h"
#include "platform/types.h"
#include "platform/win32/com_bstr.h"
#include "platform/win32/com_error.h"
#include "platform/win32/com_object.h"
#include "platform/win32/com_ptr.h"
#include "platform/win32/utf.h"

namespace platform::win32 {

namespace {

// mshtmhst.h declares this command group with DEFINE_GUID but mingw's uuid library does not define
// it, so it is spelled out here.
constexpr GUID kCgidDocHostCommandHandler = {
    0xf38bc242, 0xb950, 0x11d1, {0x89, 0x18, 0x00, 0xc0, 0x4f, 0xc2, 0xc8, 0x36}};

// No 3D border and no scroll bars, so the page fills the strip edge to edge; DIALOG switches off
// text selection, which a drag on the page would otherwise start.
constexpr DWORD kHostUiFlags =
    DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_SCROLL_NO | DOCHOSTUIFLAG_DIALOG | DOCHOSTUIFLAG_DISABLE_HELP_MENU;

// Once a host answers this ambient property it replaces the control's defaults, so images, videos
// and sounds must be asked for again; SILENT keeps download problems from raising boxes.
constexpr LONG kDownloadControl = DLCTL_DLIMAGES | DLCTL_VIDEOS | DLCTL_BGSOUNDS | DLCTL_SILENT;

RECT ToRect(const Rect& bounds) { return RECT{bounds.left, bounds.top, bounds.right, bounds.bottom}; }

// The container side of the in-place embedding: client site, in-place site and frame, the UI
// handler that silences IE's own UI, the command target that swallows script errors, and the
// ambient properties. None of these methods can throw: they only copy values.
class BrowserSite final : public ComObject<BrowserSite, IOleClientSite, IOleInPlaceSite, IOleInPlaceFrame,
                                           IDocHostUIHandler, IOleCommandTarget, IDispatch> {
 public:
  BrowserSite(HWND parent, RECT bounds) noexcept : parent_(parent), bounds_(bounds) {}

  void* FindInterface(REFIID iid) noexcept {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleClientSite)) {
      return static_cast<IOleClientSite*>(this);
    }
    if (IsEqualIID(iid, IID_IOleWindow) || IsEqualIID(iid, IID_IOleInPlaceSite)) {
      return static_cast<IOleInPlaceSite*>(this);
    }
    if (IsEqualIID(iid, IID_IOleInPlaceUIWindow) || IsEqualIID(iid, IID_IOleInPlaceFrame)) {
      return static_cast<IOleInPlaceFrame*>(this);
    }
    if (IsEqualIID(iid, IID_IDocHostUIHandler)) {
      return static_cast<IDocHostUIHandler*>(this);
    }
    if (IsEqualIID(iid, IID_IOleCommandTarget)) {
      return static_cast<IOleCommandTarget*>(this);
    }
    if (IsEqualIID(iid, IID_IDispatch)) {
      return static_cast<IDispatch*>(this);
    }
    return nullptr;
  }

  // IOleClientSite
  HRESULT STDMETHODCALLTYPE SaveObject() noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) noexcept override {
    if (moniker != nullptr) {
      *moniker = nullptr;
    }
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) noexcept override {
    if (container != nullptr) {
      *container = nullptr;
    }
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE ShowObject() noexcept override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) noexcept override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() noexcept override { return E_NOTIMPL; }

  // IOleWindow, shared by the in-place site and the frame.
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) noexcept override {
    if (window == nullptr) {
      return E_POINTER;
    }
    *window = parent_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) noexcept override { return E_NOTIMPL; }

  // IOleInPlaceSite
  HRESULT STDMETHODCALLTYPE CanInPlaceActivate() noexcept override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceActivate() noexcept override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnUIActivate() noexcept override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                             LPRECT clip, LPOLEINPLACEFRAMEINFO frameInfo) noexcept override {
    if (frame == nullptr || document == nullptr || position == nullptr || clip == nullptr || frameInfo == nullptr) {
      return E_POINTER;
    }
    AddRef();
    *frame = static_cast<IOleInPlaceFrame*>(this);
    // The frame is the document window too.
    *document = nullptr;
    *position = bounds_;
    *clip = bounds_;
    frameInfo->fMDIApp = FALSE;
    frameInfo->hwndFrame = parent_;
    frameInfo->haccel = nullptr;
    frameInfo->cAccelEntries = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Scroll(SIZE) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) noexcept override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() noexcept override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DiscardUndoState() noexcept override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DeactivateAndUndo() noexcept override { return S_OK; }
  // The strip decides where the control sits; a page cannot move or resize it.
  HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) noexcept override { return S_OK; }

  // IOleInPlaceUIWindow: no toolbars, so no border space to give.
  HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) noexcept override { return INPLACE_E_NOTOOLSPACE; }
  HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) noexcept override { return INPLACE_E_NOTOOLSPACE; }
  HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS widths) noexcept override {
    return widths == nullptr ? S_OK : OLE_E_INVALIDRECT;
  }
  HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) noexcept override { return S_OK; }

  // IOleInPlaceFrame: the strip has no menu bar or status bar to share.
  HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) noexcept override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) noexcept override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) noexcept override { return S_OK; }
  // Shared by the frame and the UI handler.
  HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) noexcept override { return S_OK; }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) noexcept override { return S_FALSE; }

  // IDocHostUIHandler
  // S_OK tells the control the host has shown its own menu, so IE's never opens; the strip opens
  // its menu only when the page asks for it.
  HRESULT STDMETHODCALLTYPE ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) noexcept override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetHostInfo(DOCHOSTUIINFO* info) noexcept override {
    if (info == nullptr) {
      return E_POINTER;
    }
    info->dwFlags = kHostUiFlags;
    info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                                   IOleInPlaceUIWindow*) noexcept override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE HideUI() noexcept override { return S_OK; }
  HRESULT STDMETHODCALLTYPE UpdateUI() noexcept override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL) noexcept override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL) noexcept override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) noexcept override { return S_OK; }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, const GUID*, DWORD) noexcept override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE GetOptionKeyPath(LPOLESTR* key, DWORD) noexcept override {
    if (key != nullptr) {
      *key = nullptr;
    }
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetDropTarget(IDropTarget*, IDropTarget** target) noexcept override {
    if (target != nullptr) {
      *target = nullptr;
    }
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetExternal(IDispatch** external) noexcept override {
    if (external != nullptr) {
      *external = nullptr;
    }
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE TranslateUrl(DWORD, LPWSTR, LPWSTR* translated) noexcept override {
    if (translated != nullptr) {
      *translated = nullptr;
    }
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE FilterDataObject(IDataObject*, IDataObject** result) noexcept override {
    if (result != nullptr) {
      *result = nullptr;
    }
    return S_FALSE;
  }

  // IOleCommandTarget: MSHTML asks its host before it shows the script error dialog. Silent on
  // the browser does not cover every case, so the answer here is always "handled, keep running
  // scripts".
  HRESULT STDMETHODCALLTYPE QueryStatus(const GUID* group, ULONG, OLECMD*, OLECMDTEXT*) noexcept override {
    return group != nullptr && IsEqualGUID(*group, kCgidDocHostCommandHandler) ? OLECMDERR_E_NOTSUPPORTED
                                                                               : OLECMDERR_E_UNKNOWNGROUP;
  }
  HRESULT STDMETHODCALLTYPE Exec(const GUID* group, DWORD command, DWORD, VARIANT*, VARIANT* out) noexcept override {
    if (group == nullptr || !IsEqualGUID(*group, kCgidDocHostCommandHandler)) {
      return OLECMDERR_E_UNKNOWNGROUP;
    }
    if (command != OLECMDID_SHOWSCRIPTERROR) {
      return OLECMDERR_E_NOTSUPPORTED;
    }
    if (out != nullptr) {
      VariantClear(out);
      out->vt = VT_BOOL;
      out->boolVal = VARIANT_TRUE;
    }
    return S_OK;
  }

  // IDispatch: ambient properties only.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override {
    if (count == nullptr) {
      return E_POINTER;
    }
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) noexcept override {
    if (info != nullptr) {
      *info = nullptr;
    }
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) noexcept override {
    if (member != DISPID_AMBIENT_DLCONTROL || (flags & DISPATCH_PROPERTYGET) == 0 || result == nullptr) {
      return DISP_E_MEMBERNOTFOUND;
    }
    VariantClear(result);
    result->vt = VT_I4;
    result->lVal = kDownloadControl;
    return S_OK;
  }

 private:
  // Destroyed only by the last Release.
  friend ComObject;
  ~BrowserSite() = default;

  HWND parent_;
  RECT bounds_;
};

class WebBrowser final : public IBrowser {
 public:
  WebBrowser(HWND parent, Rect bounds) : bounds_(bounds) {
    try {
      Embed(parent);
    } catch (...) {
      TearDown();
      throw;
    }
  }
  WebBrowser(const WebBrowser&) = delete;
  WebBrowser& operator=(const WebBrowser&) = delete;
  ~WebBrowser() override { TearDown(); }

  int Left() const override { return bounds_.left; }
  int Top() const override { return bounds_.top; }

  void Navigate(const std::string& uri) override {
    lastUrl_ = Utf8ToWide(uri);
    CheckHr(NavigateTo(lastUrl_), "Cannot open \"" + uri + "\"");
  }

  void Refresh() override {
    // A timer calls this every few seconds; a failure must neither reach the user nor stop the
    // next attempt, so nothing leaves this function.
    try {
      if (SUCCEEDED(browser_->Refresh())) {
        return;
      }
      // Without a document (no HTML engine, as under Wine, or a page that never loaded) Refresh
      // fails with E_FAIL; navigating again to the same place reloads it all the same.
      Bstr location;
      const bool hasLocation = SUCCEEDED(browser_->get_LocationURL(location.Put())) && !location.View().empty();
      const std::wstring target = hasLocation ? std::wstring(location.View()) : lastUrl_;
      if (!target.empty()) {
        NavigateTo(target);
      }
    } catch (...) {
    }
  }

 private:
  void Embed(HWND parent) {
    const RECT rect = ToRect(bounds_);
    site_.Reset(new BrowserSite(parent, rect));

    CheckHr(CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject, object_.PutVoid()),
            "Cannot create the web browser control");
    CheckHr(object_->SetClientSite(site_.Get()), "Cannot embed the web browser control");
    OleSetContainedObject(object_.Get(), TRUE);
    CheckHr(object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site_.Get(), 0, parent, &rect),
            "Cannot activate the web browser control");
    CheckHr(object_.As(IID_IOleInPlaceObject, inPlace_), "Cannot place the web browser control");
    inPlace_->SetObjectRects(&rect, &rect);
    CheckHr(object_.As(IID_IWebBrowser2, browser_), "Cannot drive the web browser control");
    browser_->put_Silent(VARIANT_TRUE);

    // Not a tab stop: Tab in the strip must not move the focus into the page.
    HWND control = nullptr;
    if (SUCCEEDED(inPlace_->GetWindow(&control)) && control != nullptr) {
      const LONG_PTR style = GetWindowLongPtrW(control, GWL_STYLE);
      SetWindowLongPtrW(control, GWL_STYLE, style & ~static_cast<LONG_PTR>(WS_TABSTOP));
    }
  }

  // Navigate with the URL alone: no flags, target frame, post data or headers.
  HRESULT NavigateTo(const std::wstring& url) {
    const Bstr target(url);
    VARIANT flags;
    VARIANT frame;
    VARIANT postData;
    VARIANT headers;
    VariantInit(&flags);
    VariantInit(&frame);
    VariantInit(&postData);
    VariantInit(&headers);
    return browser_->Navigate(target.Get(), &flags, &frame, &postData, &headers);
  }

  void TearDown() noexcept {
    if (inPlace_) {
      inPlace_->InPlaceDeactivate();
    }
    if (object_) {
      object_->Close(OLECLOSE_NOSAVE);
      object_->SetClientSite(nullptr);
    }
    browser_.Reset();
    inPlace_.Reset();
    object_.Reset();
    site_.Reset();
  }

  Rect bounds_;
  ComPtr<BrowserSite> site_;
  ComPtr<IOleObject> object_;
  ComPtr<IOleInPlaceObject> inPlace_;
  ComPtr<IWebBrowser2> browser_;
  std::wstring lastUrl_;
};

}  // namespace

std::unique_ptr<IBrowser> CreateWebBrowser(HWND parent, Rect bounds) {
  return std::make_unique<WebBrowser>(parent, bounds);
}

}  // namespace platform::win32
