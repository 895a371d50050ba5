#pragma once
// The window's accessibility tree as a UI Automation fragment: one provider per node, named by the
// node's id. UI Automation calls providers on its own threads, so they read only the tree the window
// published (AccessSource), never the window's state.
#include <windows.h>
#include <ole2.h>
#include <uiautomationcore.h>

#include <memory>
#include <string>

#include "access/access_source.h"

// The provider of the node with this id (the client area: L"client"), with one reference for the caller.
IRawElementProviderSimple* newUiaElement(std::shared_ptr<AccessSource> source, const std::wstring& id);

// UI Automation's identifiers the providers answer (UIAutomationClient.h).
namespace uia {
constexpr int kRootObjectId = -25;  // WM_GETOBJECT's lParam for a provider
constexpr PATTERNID kInvokePattern = 10000, kSelectionPattern = 10001, kScrollPattern = 10004,
                    kSelectionItemPattern = 10010;
constexpr PROPERTYID kBoundingRectangle = 30001, kControlType = 30003, kName = 30005, kHasKeyboardFocus = 30008,
                     kIsKeyboardFocusable = 30009, kIsEnabled = 30010, kAutomationId = 30011, kHelpText = 30013,
                     kIsPassword = 30019, kIsOffscreen = 30022, kValueValue = 30045;
constexpr EVENTID kFocusChangedEvent = 20005;
constexpr int kButton = 50000, kEdit = 50004, kListItem = 50007, kList = 50008, kMenu = 50009, kMenuItem = 50011,
              kProgressBar = 50012, kTab = 50018, kTabItem = 50019, kText = 50020, kToolBar = 50021, kPane = 50033,
              kCheckBox = 50002, kSlider = 50015;
int controlType(AccessRole role);

// The entry points of uiautomationcore.dll, looked up when first needed (MinGW has no import library
// for it); null where the system lacks one.
struct Api {
    LRESULT(WINAPI* returnRawElementProvider)(HWND, WPARAM, LPARAM, IRawElementProviderSimple*) = nullptr;
    HRESULT(WINAPI* hostProviderFromHwnd)(HWND, IRawElementProviderSimple**) = nullptr;
    HRESULT(WINAPI* raiseAutomationEvent)(IRawElementProviderSimple*, EVENTID) = nullptr;
    HRESULT(WINAPI* raisePropertyChangedEvent)(IRawElementProviderSimple*, PROPERTYID, VARIANT, VARIANT) = nullptr;
};
const Api& api();
}  // namespace uia
