#pragma once
// The pattern interfaces the providers implement. MinGW-w64's uiautomationcore.h leaves them out;
// Windows SDK headers have them.
#include <windows.h>
#include <ole2.h>
#include <uiautomationcore.h>

#ifndef __IInvokeProvider_INTERFACE_DEFINED__
#define __IInvokeProvider_INTERFACE_DEFINED__
struct IInvokeProvider : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Invoke() = 0;
};
#endif

#ifndef __IScrollProvider_INTERFACE_DEFINED__
#define __IScrollProvider_INTERFACE_DEFINED__
enum ScrollAmount {
    ScrollAmount_LargeDecrement = 0,
    ScrollAmount_SmallDecrement = 1,
    ScrollAmount_NoAmount = 2,
    ScrollAmount_LargeIncrement = 3,
    ScrollAmount_SmallIncrement = 4
};
struct IScrollProvider : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Scroll(enum ScrollAmount horizontal, enum ScrollAmount vertical) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetScrollPercent(double horizontal, double vertical) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_HorizontalScrollPercent(double* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_VerticalScrollPercent(double* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_HorizontalViewSize(double* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_VerticalViewSize(double* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_HorizontallyScrollable(BOOL* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_VerticallyScrollable(BOOL* value) = 0;
};
#endif

#ifndef __ISelectionProvider_INTERFACE_DEFINED__
#define __ISelectionProvider_INTERFACE_DEFINED__
struct ISelectionProvider : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetSelection(SAFEARRAY** selection) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CanSelectMultiple(BOOL* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsSelectionRequired(BOOL* value) = 0;
};
#endif

#ifndef __ISelectionItemProvider_INTERFACE_DEFINED__
#define __ISelectionItemProvider_INTERFACE_DEFINED__
struct ISelectionItemProvider : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Select() = 0;
    virtual HRESULT STDMETHODCALLTYPE AddToSelection() = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveFromSelection() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsSelected(BOOL* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SelectionContainer(IRawElementProviderSimple** value) = 0;
};
#endif

namespace uia {
constexpr IID kIidInvokeProvider = {0x54fcb24b, 0xe18e, 0x47a2, {0xb4, 0xd3, 0xec, 0xcb, 0xe7, 0x75, 0x99, 0xa2}};
constexpr IID kIidScrollProvider = {0xb38b8077, 0x1fc3, 0x42a5, {0x8c, 0xae, 0xd4, 0x0c, 0x22, 0x15, 0x05, 0x5a}};
constexpr IID kIidSelectionProvider = {0xfb8b03af, 0x3bdf, 0x48d4, {0xbd, 0x36, 0x1a, 0x65, 0x79, 0x3b, 0xe1, 0x68}};
constexpr IID kIidSelectionItemProvider = {0x2acad808, 0xb2d4, 0x452d, {0xa4, 0x07, 0x91, 0xff, 0x1a, 0xd1, 0x67, 0xb2}};
}  // namespace uia
