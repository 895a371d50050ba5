#include "access/uia_element.h"

#include <algorithm>
#include <atomic>
#include <type_traits>
#include <vector>

#include "access/uia_patterns.h"

namespace {

class UiaElement final : public IRawElementProviderSimple,
                         public IRawElementProviderFragment,
                         public IRawElementProviderFragmentRoot,
                         public IInvokeProvider,
                         public IScrollProvider,
                         public ISelectionProvider,
                         public ISelectionItemProvider {
public:
    UiaElement(std::shared_ptr<AccessSource> source, std::wstring id) : source_(std::move(source)), id_(std::move(id)) {}

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    // IRawElementProviderSimple
    HRESULT STDMETHODCALLTYPE get_ProviderOptions(enum ProviderOptions* out) override {
        if (!out) return E_POINTER;
        *out = ProviderOptions_ServerSideProvider;  // not UseComThreading: under Wine it deadlocks both sides
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPatternProvider(PATTERNID pattern, IUnknown** out) override;
    HRESULT STDMETHODCALLTYPE GetPropertyValue(PROPERTYID property, VARIANT* out) override;
    HRESULT STDMETHODCALLTYPE get_HostRawElementProvider(IRawElementProviderSimple** out) override;

    // IRawElementProviderFragment
    HRESULT STDMETHODCALLTYPE Navigate(enum NavigateDirection direction, IRawElementProviderFragment** out) override;
    HRESULT STDMETHODCALLTYPE GetRuntimeId(SAFEARRAY** out) override;
    HRESULT STDMETHODCALLTYPE get_BoundingRectangle(struct UiaRect* out) override;
    HRESULT STDMETHODCALLTYPE GetEmbeddedFragmentRoots(SAFEARRAY** out) override {
        if (out) *out = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetFocus() override { return act([this](const AccessNode& n) { return source_->takeFocus(n); }); }
    HRESULT STDMETHODCALLTYPE get_FragmentRoot(IRawElementProviderFragmentRoot** out) override;

    // IRawElementProviderFragmentRoot
    HRESULT STDMETHODCALLTYPE ElementProviderFromPoint(double x, double y, IRawElementProviderFragment** out) override;
    HRESULT STDMETHODCALLTYPE GetFocus(IRawElementProviderFragment** out) override;

    // IInvokeProvider
    HRESULT STDMETHODCALLTYPE Invoke() override { return act([this](const AccessNode& n) { return source_->press(n); }); }

    // IScrollProvider: vertical only
    HRESULT STDMETHODCALLTYPE Scroll(enum ScrollAmount horizontal, enum ScrollAmount vertical) override;
    HRESULT STDMETHODCALLTYPE SetScrollPercent(double horizontal, double vertical) override;
    HRESULT STDMETHODCALLTYPE get_HorizontalScrollPercent(double* out) override { return number(out, -1.0); }
    HRESULT STDMETHODCALLTYPE get_VerticalScrollPercent(double* out) override;
    HRESULT STDMETHODCALLTYPE get_HorizontalViewSize(double* out) override { return number(out, 100.0); }
    HRESULT STDMETHODCALLTYPE get_VerticalViewSize(double* out) override;
    HRESULT STDMETHODCALLTYPE get_HorizontallyScrollable(BOOL* out) override { return flag(out, false); }
    HRESULT STDMETHODCALLTYPE get_VerticallyScrollable(BOOL* out) override;

    // ISelectionProvider
    HRESULT STDMETHODCALLTYPE GetSelection(SAFEARRAY** out) override;
    HRESULT STDMETHODCALLTYPE get_CanSelectMultiple(BOOL* out) override { return flag(out, false); }
    HRESULT STDMETHODCALLTYPE get_IsSelectionRequired(BOOL* out) override { return flag(out, false); }

    // ISelectionItemProvider: a category is selected by showing it, a card by taking the focus
    HRESULT STDMETHODCALLTYPE Select() override;
    HRESULT STDMETHODCALLTYPE AddToSelection() override { return Select(); }
    HRESULT STDMETHODCALLTYPE RemoveFromSelection() override { return UIA_E_INVALIDOPERATION_CODE; }
    HRESULT STDMETHODCALLTYPE get_IsSelected(BOOL* out) override;
    HRESULT STDMETHODCALLTYPE get_SelectionContainer(IRawElementProviderSimple** out) override;

private:
    static constexpr HRESULT UIA_E_ELEMENTNOTAVAILABLE_CODE = static_cast<HRESULT>(0x80040201);
    static constexpr HRESULT UIA_E_INVALIDOPERATION_CODE = static_cast<HRESULT>(0x80131509);

    ~UiaElement() = default;

    // The current tree and this node's place in it; null when the window no longer shows the node.
    struct Found {
        std::shared_ptr<const AccessTree> tree;
        int index = -1;
        const AccessNode& node() const { return tree->nodes[static_cast<size_t>(index)]; }
    };
    Found find() const {
        Found found{source_->tree()};
        if (found.tree) found.index = found.tree->find(id_);
        return found;
    }
    template <typename Action>
    HRESULT act(Action action) {
        const Found found = find();
        if (found.index < 0) return UIA_E_ELEMENTNOTAVAILABLE_CODE;
        return action(found.node()) ? S_OK : UIA_E_INVALIDOPERATION_CODE;
    }
    static HRESULT number(double* out, double value) {
        if (!out) return E_POINTER;
        *out = value;
        return S_OK;
    }
    static HRESULT flag(BOOL* out, bool value) {
        if (!out) return E_POINTER;
        *out = value ? TRUE : FALSE;
        return S_OK;
    }
    UiaElement* element(const AccessTree& tree, int index) const {
        return new UiaElement(source_, tree.nodes[static_cast<size_t>(index)].id);
    }
    bool scrolls(const AccessNode& node) const { return node.scrollMax >= 0; }

    std::shared_ptr<AccessSource> source_;
    std::wstring id_;
    std::atomic<ULONG> references_{1};
};

HRESULT UiaElement::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IRawElementProviderSimple) *out = static_cast<IRawElementProviderSimple*>(this);
    else if (iid == IID_IRawElementProviderFragment) *out = static_cast<IRawElementProviderFragment*>(this);
    else if (iid == IID_IRawElementProviderFragmentRoot && id_ == L"client")
        *out = static_cast<IRawElementProviderFragmentRoot*>(this);
    else if (iid == uia::kIidInvokeProvider) *out = static_cast<IInvokeProvider*>(this);
    else if (iid == uia::kIidScrollProvider) *out = static_cast<IScrollProvider*>(this);
    else if (iid == uia::kIidSelectionProvider) *out = static_cast<ISelectionProvider*>(this);
    else if (iid == uia::kIidSelectionItemProvider) *out = static_cast<ISelectionItemProvider*>(this);
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

HRESULT UiaElement::GetPatternProvider(PATTERNID pattern, IUnknown** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    const Found found = find();
    if (found.index < 0) return UIA_E_ELEMENTNOTAVAILABLE_CODE;
    const AccessNode& node = found.node();
    const bool item = node.role == AccessRole::ListItem || node.role == AccessRole::PageTab;
    const bool container = node.role == AccessRole::List || node.role == AccessRole::PageTabList;
    if (pattern == uia::kInvokePattern && node.kind != HitKind::None) *out = static_cast<IInvokeProvider*>(this);
    if (pattern == uia::kScrollPattern && scrolls(node)) *out = static_cast<IScrollProvider*>(this);
    if (pattern == uia::kSelectionPattern && container) *out = static_cast<ISelectionProvider*>(this);
    if (pattern == uia::kSelectionItemPattern && item) *out = static_cast<ISelectionItemProvider*>(this);
    if (*out) AddRef();
    return S_OK;
}

VARIANT text(const std::wstring& value) {
    VARIANT out;
    ::VariantInit(&out);
    out.vt = VT_BSTR;
    out.bstrVal = ::SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
    return out;
}

HRESULT UiaElement::GetPropertyValue(PROPERTYID property, VARIANT* out) {
    if (!out) return E_POINTER;
    ::VariantInit(out);
    const Found found = find();
    if (found.index < 0) return UIA_E_ELEMENTNOTAVAILABLE_CODE;
    const AccessNode& node = found.node();
    const auto yes = [out](bool value) {
        out->vt = VT_BOOL;
        out->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    };
    switch (property) {
        case uia::kName: *out = text(node.name); break;
        case uia::kAutomationId: *out = text(node.id); break;
        case uia::kHelpText: *out = text(node.description); break;
        case uia::kValueValue: if (!node.value.empty()) *out = text(node.value); break;
        case uia::kControlType:
            out->vt = VT_I4;
            out->lVal = uia::controlType(node.role);
            break;
        case uia::kHasKeyboardFocus: yes((node.states & AccessFocused) != 0); break;
        case uia::kIsKeyboardFocusable: yes((node.states & AccessFocusable) != 0); break;
        case uia::kIsEnabled: yes((node.states & AccessUnavailable) == 0); break;
        case uia::kIsPassword: yes((node.states & AccessProtected) != 0); break;
        case uia::kIsOffscreen: yes((node.states & AccessOffscreen) != 0); break;
        default: break;  // VT_EMPTY: UI Automation asks the host or gives the default
    }
    return S_OK;
}

HRESULT UiaElement::get_HostRawElementProvider(IRawElementProviderSimple** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    // Only the root stands for a window: the host provider gives what the system knows of it.
    if (id_ != L"client" || !uia::api().hostProviderFromHwnd) return S_OK;
    return uia::api().hostProviderFromHwnd(source_->window(), out);
}

HRESULT UiaElement::Navigate(enum NavigateDirection direction, IRawElementProviderFragment** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    const Found found = find();
    if (found.index < 0) return UIA_E_ELEMENTNOTAVAILABLE_CODE;
    const AccessTree& tree = *found.tree;
    const AccessNode& node = found.node();
    int to = -1;
    if (direction == NavigateDirection_Parent) to = node.parent;  // the root's parent is the host's business
    if (direction == NavigateDirection_FirstChild && !node.children.empty()) to = node.children.front();
    if (direction == NavigateDirection_LastChild && !node.children.empty()) to = node.children.back();
    if ((direction == NavigateDirection_NextSibling || direction == NavigateDirection_PreviousSibling) && node.parent >= 0) {
        const std::vector<int>& siblings = tree.nodes[static_cast<size_t>(node.parent)].children;
        for (size_t i = 0; i < siblings.size(); ++i) {
            if (siblings[i] != found.index) continue;
            if (direction == NavigateDirection_NextSibling && i + 1 < siblings.size()) to = siblings[i + 1];
            if (direction == NavigateDirection_PreviousSibling && i > 0) to = siblings[i - 1];
        }
    }
    if (to >= 0) *out = static_cast<IRawElementProviderFragment*>(element(tree, to));
    return S_OK;
}

HRESULT UiaElement::GetRuntimeId(SAFEARRAY** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (id_ == L"client") return S_OK;  // the host gives the root's
    const int parts[2] = {3 /* UiaAppendRuntimeId */, static_cast<int>(-source_->numberOf(id_))};
    *out = ::SafeArrayCreateVector(VT_I4, 0, 2);
    if (!*out) return E_OUTOFMEMORY;
    for (LONG i = 0; i < 2; ++i) ::SafeArrayPutElement(*out, &i, const_cast<int*>(&parts[i]));
    return S_OK;
}

HRESULT UiaElement::get_BoundingRectangle(struct UiaRect* out) {
    if (!out) return E_POINTER;
    *out = UiaRect{};
    const Found found = find();
    if (found.index < 0) return UIA_E_ELEMENTNOTAVAILABLE_CODE;
    const RECT rect = source_->scale().pixels(found.node().rect);
    const POINT origin = source_->origin();
    *out = UiaRect{static_cast<double>(rect.left + origin.x), static_cast<double>(rect.top + origin.y),
                   static_cast<double>(rect.right - rect.left), static_cast<double>(rect.bottom - rect.top)};
    return S_OK;
}

HRESULT UiaElement::get_FragmentRoot(IRawElementProviderFragmentRoot** out) {
    if (!out) return E_POINTER;
    *out = static_cast<IRawElementProviderFragmentRoot*>(new UiaElement(source_, L"client"));
    return S_OK;
}

HRESULT UiaElement::ElementProviderFromPoint(double x, double y, IRawElementProviderFragment** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    const Found found = find();
    if (found.index < 0) return UIA_E_ELEMENTNOTAVAILABLE_CODE;
    const POINT origin = source_->origin();
    const POINT client = source_->scale().units(POINT{static_cast<LONG>(x) - origin.x, static_cast<LONG>(y) - origin.y});
    *out = static_cast<IRawElementProviderFragment*>(element(*found.tree, found.tree->hit(client)));
    return S_OK;
}

HRESULT UiaElement::GetFocus(IRawElementProviderFragment** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    const Found found = find();
    if (found.index < 0) return UIA_E_ELEMENTNOTAVAILABLE_CODE;
    if (found.tree->focused > 0) *out = static_cast<IRawElementProviderFragment*>(element(*found.tree, found.tree->focused));
    return S_OK;
}

// A small step is a tenth of the view, a large one the whole view, as scroll bars step.
HRESULT UiaElement::Scroll(enum ScrollAmount horizontal, enum ScrollAmount vertical) {
    if (horizontal != ScrollAmount_NoAmount) return UIA_E_INVALIDOPERATION_CODE;
    return act([this, vertical](const AccessNode& n) {
        if (!scrolls(n)) return false;
        int step = 0;
        if (vertical == ScrollAmount_LargeIncrement || vertical == ScrollAmount_LargeDecrement) step = n.scrollView;
        if (vertical == ScrollAmount_SmallIncrement || vertical == ScrollAmount_SmallDecrement) step = n.scrollView / 10;
        if (vertical == ScrollAmount_LargeDecrement || vertical == ScrollAmount_SmallDecrement) step = -step;
        return source_->scrollTo(n, std::max(0, std::min(n.scrollMax, n.scrollOffset + step)));
    });
}

HRESULT UiaElement::SetScrollPercent(double horizontal, double vertical) {
    if (horizontal != -1.0 || vertical < 0 || vertical > 100) return vertical == -1.0 ? S_OK : E_INVALIDARG;
    return act([this, vertical](const AccessNode& n) {
        return scrolls(n) && source_->scrollTo(n, static_cast<int>(n.scrollMax * vertical / 100.0 + 0.5));
    });
}

HRESULT UiaElement::get_VerticalScrollPercent(double* out) {
    const Found found = find();
    if (found.index < 0) return UIA_E_ELEMENTNOTAVAILABLE_CODE;
    const AccessNode& n = found.node();
    return number(out, n.scrollMax > 0 ? 100.0 * n.scrollOffset / n.scrollMax : -1.0);
}

HRESULT UiaElement::get_VerticalViewSize(double* out) {
    const Found found = find();
    if (found.index < 0) return UIA_E_ELEMENTNOTAVAILABLE_CODE;
    const AccessNode& n = found.node();
    const int content = n.scrollView + std::max(0, n.scrollMax);
    return number(out, content > 0 ? 100.0 * n.scrollView / content : 100.0);
}

HRESULT UiaElement::get_VerticallyScrollable(BOOL* out) {
    const Found found = find();
    if (found.index < 0) return UIA_E_ELEMENTNOTAVAILABLE_CODE;
    return flag(out, found.node().scrollMax > 0);
}

HRESULT UiaElement::GetSelection(SAFEARRAY** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    const Found found = find();
    if (found.index < 0) return UIA_E_ELEMENTNOTAVAILABLE_CODE;
    std::vector<int> selected;
    for (int child : found.node().children)
        if (found.tree->nodes[static_cast<size_t>(child)].states & AccessSelected) selected.push_back(child);
    *out = ::SafeArrayCreateVector(VT_UNKNOWN, 0, static_cast<ULONG>(selected.size()));
    if (!*out) return E_OUTOFMEMORY;
    for (LONG i = 0; i < static_cast<LONG>(selected.size()); ++i) {
        IUnknown* item = static_cast<IRawElementProviderSimple*>(element(*found.tree, selected[static_cast<size_t>(i)]));
        ::SafeArrayPutElement(*out, &i, item);  // the array takes its own reference
        item->Release();
    }
    return S_OK;
}

HRESULT UiaElement::Select() {
    return act([this](const AccessNode& n) {
        return n.role == AccessRole::PageTab ? source_->press(n) : source_->takeFocus(n);
    });
}

HRESULT UiaElement::get_IsSelected(BOOL* out) {
    const Found found = find();
    if (found.index < 0) return UIA_E_ELEMENTNOTAVAILABLE_CODE;
    return flag(out, (found.node().states & AccessSelected) != 0);
}

HRESULT UiaElement::get_SelectionContainer(IRawElementProviderSimple** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    const Found found = find();
    if (found.index < 0) return UIA_E_ELEMENTNOTAVAILABLE_CODE;
    if (found.node().parent >= 0) *out = element(*found.tree, found.node().parent);
    return S_OK;
}

}  // namespace

IRawElementProviderSimple* newUiaElement(std::shared_ptr<AccessSource> source, const std::wstring& id) {
    return new UiaElement(std::move(source), id);
}

namespace uia {

int controlType(AccessRole role) {
    switch (role) {
        case AccessRole::Client: return kPane;
        case AccessRole::Toolbar: return kToolBar;
        case AccessRole::PageTabList: return kTab;
        case AccessRole::PageTab: return kTabItem;
        case AccessRole::List: return kList;
        case AccessRole::ListItem: return kListItem;
        case AccessRole::PushButton: return kButton;
        case AccessRole::ProgressBar: return kProgressBar;
        case AccessRole::StaticText: return kText;
        case AccessRole::Text: return kEdit;
        case AccessRole::MenuPopup: return kMenu;
        case AccessRole::MenuItem: return kMenuItem;
        case AccessRole::Slider: return kSlider;
        case AccessRole::CheckButton: return kCheckBox;
    }
    return kPane;
}

const Api& api() {
    static const Api loaded = [] {
        Api found;
        HMODULE core = ::LoadLibraryW(L"uiautomationcore.dll");
        if (!core) return found;
        const auto get = [core](auto& pointer, const char* name) {
            pointer = reinterpret_cast<std::remove_reference_t<decltype(pointer)>>(
                reinterpret_cast<void*>(::GetProcAddress(core, name)));
        };
        get(found.returnRawElementProvider, "UiaReturnRawElementProvider");
        get(found.hostProviderFromHwnd, "UiaHostProviderFromHwnd");
        get(found.raiseAutomationEvent, "UiaRaiseAutomationEvent");
        get(found.raisePropertyChangedEvent, "UiaRaiseAutomationPropertyChangedEvent");
        return found;
    }();
    return loaded;
}

}  // namespace uia
