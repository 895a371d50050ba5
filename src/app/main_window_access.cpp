#include <memory>

#include "access/access_events.h"
#include "access/access_source.h"
#include "access/msaa_element.h"
#include "access/uia_element.h"
#include "app/main_window.h"
#include "app/main_window_handlers.h"
#include "app/main_window_paint.h"
#include "app/startup.h"
#include "app/window_dpi.h"
#include "model/app_state.h"

namespace {

// Made when the first client asks; from then on every paint publishes what it showed.
struct MainWindowAccess {
    std::shared_ptr<AccessSource> source;
    std::shared_ptr<const AccessTree> published;
    ProgressAnnounced announced;
};

MainWindowAccess& state() {
    static MainWindowAccess state;
    return state;
}

DWORD winEventOf(AccessChange change) {
    switch (change) {
        case AccessChange::Focus: return EVENT_OBJECT_FOCUS;
        case AccessChange::Name: return EVENT_OBJECT_NAMECHANGE;
        case AccessChange::State: return EVENT_OBJECT_STATECHANGE;
        case AccessChange::Value: break;
    }
    return EVENT_OBJECT_VALUECHANGE;
}

// The same news for UI Automation clients: focus as its event, a new name or value as a property change.
void raiseUiaEvent(const AccessEvent& event, const AccessTree& tree) {
    const uia::Api& api = uia::api();
    const int index = tree.find(event.id);
    if (index < 0 || event.change == AccessChange::State) return;
    IRawElementProviderSimple* element = newUiaElement(state().source, event.id);
    if (event.change == AccessChange::Focus && api.raiseAutomationEvent) {
        api.raiseAutomationEvent(element, uia::kFocusChangedEvent);
    } else if (api.raisePropertyChangedEvent) {
        const bool name = event.change == AccessChange::Name;
        const std::wstring& now = name ? tree.nodes[static_cast<size_t>(index)].name : tree.nodes[static_cast<size_t>(index)].value;
        VARIANT before, after;
        ::VariantInit(&before);
        ::VariantInit(&after);
        after.vt = VT_BSTR;
        after.bstrVal = ::SysAllocStringLen(now.data(), static_cast<UINT>(now.size()));
        api.raisePropertyChangedEvent(element, name ? uia::kName : uia::kValueValue, before, after);
        ::VariantClear(&after);
    }
    element->Release();
}

void publish(HWND hwnd, const PaintInputs& inputs, int w, int h) {
    MainWindowAccess& access = state();
    const AppState& app = appState();
    AccessInputs focus;
    const HWND focused = ::GetFocus();
    focus.fieldFocused = focused && focused == app.search.edit;
    focus.windowFocused = focused == hwnd || focus.fieldFocused;
    auto tree = std::make_shared<const AccessTree>(buildAccessTree(app, inputs, focus, w, h));
    POINT origin{0, 0};
    ::ClientToScreen(hwnd, &origin);
    access.source->publish(tree, origin, app.scale);
    const std::vector<AccessEvent> events = accessEvents(access.published.get(), *tree, access.announced);
    access.published = tree;
    for (const AccessEvent& event : events) {
        ::NotifyWinEvent(winEventOf(event.change), hwnd, OBJID_CLIENT, access.source->numberOf(event.id));
        raiseUiaEvent(event, *tree);
    }
}

}  // namespace

void publishAccessTree(HWND hwnd, const PaintInputs& inputs, int w, int h) {
    if (state().source) publish(hwnd, inputs, w, h);
}

// MSAA asks for OBJID_CLIENT, UI Automation for its root object id; anything else is the system's.
LRESULT onGetObject(HWND hwnd, WPARAM wp, LPARAM lp) {
    const LONG object = static_cast<LONG>(lp);
    const bool uiAutomation = object == uia::kRootObjectId && uia::api().returnRawElementProvider;
    if (object != OBJID_CLIENT && !uiAutomation) return ::DefWindowProcW(hwnd, WM_GETOBJECT, wp, lp);
    MainWindowAccess& access = state();
    if (!access.source) {
        finishStartUp();  // COM on this thread: the objects are marshalled to the client
        access.source = std::make_shared<AccessSource>(hwnd);
    }
    const SIZE client = clientUnits(hwnd);
    publish(hwnd, liveInputs(appState()), client.cx, client.cy);
    if (uiAutomation) {
        IRawElementProviderSimple* root = newUiaElement(access.source, L"client");
        const LRESULT result = uia::api().returnRawElementProvider(hwnd, wp, lp, root);
        root->Release();
        return result;
    }
    IAccessible* root = newAccessibleElement(access.source, L"client");
    const LRESULT result = ::LresultFromObject(IID_IAccessible, wp, root);
    root->Release();
    return result;
}

LRESULT onAccessPress(HWND hwnd, WPARAM wp) {
    const IdAndGeneration what = unpackIdAndGeneration(wp);
    const HitKind kind = static_cast<HitKind>(what.generation);
    if (kind == HitKind::MenuItem) {
        AppState& app = appState();
        if (!app.cardMenu.open) return 0;
        app.cardMenu.focusedItem = what.id;
        cardMenuTakesKey(VK_RETURN);
        return 0;
    }
    pressControl(hwnd, HitRegion{RECT{}, kind, what.id});
    return 0;
}

LRESULT onAccessFocus(WPARAM wp) {
    const IdAndGeneration what = unpackIdAndGeneration(wp);
    const auto region = static_cast<FocusRegion>(what.generation & 0xFF);
    setKeyboardFocus(FocusTarget{region, what.id, static_cast<int32_t>(what.generation >> 8)});
    return 0;
}

LRESULT onAccessScroll(WPARAM wp) {
    const IdAndGeneration what = unpackIdAndGeneration(wp);
    AppState& app = appState();
    (static_cast<FocusRegion>(what.generation) == FocusRegion::Sidebar ? app.sidebarScroll : app.contentScroll) = what.id;
    repaintMainWindow();
    return 0;
}

// A move repaints nothing, yet clients place what they read on the screen.
void accessWindowMoved(HWND hwnd) {
    MainWindowAccess& access = state();
    if (!access.source) return;
    POINT origin{0, 0};
    ::ClientToScreen(hwnd, &origin);
    access.source->moveTo(origin);
}

void disconnectAccessClients() {
    MainWindowAccess& access = state();
    if (access.source) access.source->disconnect();
    access = MainWindowAccess{};
}
