#include "access/msaa_element.h"

#include <atomic>

namespace {

BSTR bstr(const std::wstring& text) { return ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size())); }

// Answers a text property: S_FALSE with no string when the node has none.
HRESULT textResult(const std::wstring& text, BSTR* out) {
    if (!out) return E_POINTER;
    *out = text.empty() ? nullptr : bstr(text);
    return text.empty() ? S_FALSE : S_OK;
}

class AccessibleElement final : public IAccessible {
public:
    AccessibleElement(std::shared_ptr<AccessSource> source, std::wstring id)
        : source_(std::move(source)), id_(std::move(id)) {}

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IAccessible) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    // IDispatch: clients call IAccessible's methods directly.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override;
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override;
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override;
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* out) override {
        return text(child, out, &AccessNode::name);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* out) override {
        return text(child, out, &AccessNode::value);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* out) override {
        return text(child, out, &AccessNode::description);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* out) override;
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* out) override;
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT, BSTR* out) override { return textResult(L"", out); }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, long* topic) override {
        if (topic) *topic = 0;
        return textResult(L"", file);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT, BSTR* out) override { return textResult(L"", out); }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* out) override;
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* out) override;
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* out) override {
        return text(child, out, &AccessNode::defaultAction);
    }
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override;
    HRESULT STDMETHODCALLTYPE accLocation(long* x, long* y, long* width, long* height, VARIANT child) override;
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* out) override;
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* out) override;
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override;
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

private:
    ~AccessibleElement() = default;

    // The node a call is about: this one (CHILDID_SELF), its n-th child (n > 0), or the node an event
    // numbered (n < 0); -1 when the window no longer shows it.
    int resolve(const AccessTree& tree, const VARIANT& child) const;
    HRESULT text(const VARIANT& child, BSTR* out, std::wstring AccessNode::*field) const;
    // Hands answer the tree and the node a call is about: RPC_E_DISCONNECTED once the window has gone,
    // E_INVALIDARG for a child the window no longer shows.
    template <typename Answer>
    HRESULT onNode(const VARIANT& child, Answer answer) const {
        const auto tree = source_->tree();
        if (!tree) return RPC_E_DISCONNECTED;
        const int index = resolve(*tree, child);
        if (index < 0) return E_INVALIDARG;
        return answer(*tree, index);
    }
    // The same for this node itself; `gone` when the window no longer shows it.
    template <typename Answer>
    HRESULT onSelf(HRESULT gone, Answer answer) const {
        const auto tree = source_->tree();
        if (!tree) return RPC_E_DISCONNECTED;
        const int self = tree->find(id_);
        if (self < 0) return gone;
        return answer(*tree, self);
    }
    // child as a VARIANT: CHILDID_SELF for this node, else an object.
    void answer(const AccessTree& tree, int index, int self, VARIANT* out) const;

    std::shared_ptr<AccessSource> source_;
    std::wstring id_;
    std::atomic<ULONG> references_{1};
};

int AccessibleElement::resolve(const AccessTree& tree, const VARIANT& child) const {
    const int self = tree.find(id_);
    if (self < 0) return -1;
    if (child.vt == VT_EMPTY) return self;
    if (child.vt != VT_I4) return -1;
    const long n = child.lVal;
    if (n == CHILDID_SELF) return self;
    if (n < 0) return tree.find(source_->idOfNumber(n));
    const std::vector<int>& children = tree.nodes[static_cast<size_t>(self)].children;
    return static_cast<size_t>(n) <= children.size() ? children[static_cast<size_t>(n - 1)] : -1;
}

HRESULT AccessibleElement::text(const VARIANT& child, BSTR* out, std::wstring AccessNode::*field) const {
    if (!out) return E_POINTER;
    *out = nullptr;
    return onNode(child, [&](const AccessTree& tree, int index) {
        return textResult(tree.nodes[static_cast<size_t>(index)].*field, out);
    });
}

void AccessibleElement::answer(const AccessTree& tree, int index, int self, VARIANT* out) const {
    ::VariantInit(out);
    if (index == self) {
        out->vt = VT_I4;
        out->lVal = CHILDID_SELF;
        return;
    }
    out->vt = VT_DISPATCH;
    out->pdispVal = newAccessibleElement(source_, tree.nodes[static_cast<size_t>(index)].id);
}

HRESULT AccessibleElement::get_accParent(IDispatch** parent) {
    if (!parent) return E_POINTER;
    *parent = nullptr;
    return onSelf(E_FAIL, [&](const AccessTree& tree, int self) -> HRESULT {
        const int up = tree.nodes[static_cast<size_t>(self)].parent;
        if (up >= 0) {
            *parent = newAccessibleElement(source_, tree.nodes[static_cast<size_t>(up)].id);
            return S_OK;
        }
        // The client area's parent is the window itself, as the system's own objects give it.
        return ::CreateStdAccessibleObject(source_->window(), OBJID_WINDOW, IID_IDispatch,
                                           reinterpret_cast<void**>(parent));
    });
}

HRESULT AccessibleElement::get_accChildCount(long* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return onSelf(E_FAIL, [&](const AccessTree& tree, int self) {
        *count = static_cast<long>(tree.nodes[static_cast<size_t>(self)].children.size());
        return S_OK;
    });
}

HRESULT AccessibleElement::get_accChild(VARIANT child, IDispatch** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return onNode(child, [&](const AccessTree& tree, int index) {
        if (index == tree.find(id_)) return E_INVALIDARG;
        *out = newAccessibleElement(source_, tree.nodes[static_cast<size_t>(index)].id);
        return S_OK;
    });
}

HRESULT AccessibleElement::get_accRole(VARIANT child, VARIANT* out) {
    if (!out) return E_POINTER;
    ::VariantInit(out);
    return onNode(child, [&](const AccessTree& tree, int index) {
        out->vt = VT_I4;
        out->lVal = msaaRole(tree.nodes[static_cast<size_t>(index)].role);
        return S_OK;
    });
}

HRESULT AccessibleElement::get_accState(VARIANT child, VARIANT* out) {
    if (!out) return E_POINTER;
    ::VariantInit(out);
    return onNode(child, [&](const AccessTree& tree, int index) {
        out->vt = VT_I4;
        out->lVal = msaaState(tree.nodes[static_cast<size_t>(index)].states);
        return S_OK;
    });
}

HRESULT AccessibleElement::get_accFocus(VARIANT* out) {
    if (!out) return E_POINTER;
    ::VariantInit(out);
    return onSelf(S_FALSE, [&](const AccessTree& tree, int self) {
        if (tree.focused < 0) return S_FALSE;
        answer(tree, tree.focused, self, out);
        return S_OK;
    });
}

HRESULT AccessibleElement::get_accSelection(VARIANT* out) {
    if (!out) return E_POINTER;
    ::VariantInit(out);
    return onSelf(E_FAIL, [&](const AccessTree& tree, int self) {
        for (int child : tree.nodes[static_cast<size_t>(self)].children) {
            if (!(tree.nodes[static_cast<size_t>(child)].states & AccessSelected)) continue;
            answer(tree, child, self, out);
            return S_OK;
        }
        return S_FALSE;
    });
}

HRESULT AccessibleElement::accSelect(long flags, VARIANT child) {
    return onNode(child, [&](const AccessTree& tree, int index) {
        const AccessNode& node = tree.nodes[static_cast<size_t>(index)];
        bool done = false;
        if (flags & SELFLAG_TAKEFOCUS) done = source_->takeFocus(node);
        // Selecting a category shows it, as choosing a tab does.
        if ((flags & SELFLAG_TAKESELECTION) && node.role == AccessRole::PageTab) done = source_->press(node) || done;
        return done ? S_OK : S_FALSE;
    });
}

HRESULT AccessibleElement::accLocation(long* x, long* y, long* width, long* height, VARIANT child) {
    if (!x || !y || !width || !height) return E_POINTER;
    return onNode(child, [&](const AccessTree& tree, int index) {
        const RECT rect = source_->scale().pixels(tree.nodes[static_cast<size_t>(index)].rect);
        POINT origin{0, 0};
        ::ClientToScreen(source_->window(), &origin);
        *x = rect.left + origin.x;
        *y = rect.top + origin.y;
        *width = rect.right - rect.left;
        *height = rect.bottom - rect.top;
        return S_OK;
    });
}

HRESULT AccessibleElement::accNavigate(long direction, VARIANT start, VARIANT* out) {
    if (!out) return E_POINTER;
    ::VariantInit(out);
    const auto tree = source_->tree();
    if (!tree) return RPC_E_DISCONNECTED;
    const int self = tree->find(id_);
    const int from = resolve(*tree, start);
    if (from < 0 || self < 0) return E_INVALIDARG;
    const AccessNode& node = tree->nodes[static_cast<size_t>(from)];
    int to = -1;
    if (direction == NAVDIR_FIRSTCHILD && !node.children.empty()) to = node.children.front();
    if (direction == NAVDIR_LASTCHILD && !node.children.empty()) to = node.children.back();
    if ((direction == NAVDIR_NEXT || direction == NAVDIR_PREVIOUS) && node.parent >= 0) {
        const std::vector<int>& siblings = tree->nodes[static_cast<size_t>(node.parent)].children;
        for (size_t i = 0; i < siblings.size(); ++i) {
            if (siblings[i] != from) continue;
            if (direction == NAVDIR_NEXT && i + 1 < siblings.size()) to = siblings[i + 1];
            if (direction == NAVDIR_PREVIOUS && i > 0) to = siblings[i - 1];
        }
    }
    if (to < 0) return S_FALSE;
    answer(*tree, to, self, out);
    return S_OK;
}

HRESULT AccessibleElement::accHitTest(long x, long y, VARIANT* out) {
    if (!out) return E_POINTER;
    ::VariantInit(out);
    return onSelf(E_FAIL, [&](const AccessTree& tree, int self) {
        POINT point{x, y};
        ::ScreenToClient(source_->window(), &point);
        point = source_->scale().units(point);
        if (!::PtInRect(&tree.nodes[static_cast<size_t>(self)].rect, point)) return S_FALSE;
        answer(tree, tree.hit(point, self), self, out);
        return S_OK;
    });
}

HRESULT AccessibleElement::accDoDefaultAction(VARIANT child) {
    return onNode(child, [&](const AccessTree& tree, int index) {
        return source_->press(tree.nodes[static_cast<size_t>(index)]) ? S_OK : DISP_E_MEMBERNOTFOUND;
    });
}

}  // namespace

IAccessible* newAccessibleElement(std::shared_ptr<AccessSource> source, const std::wstring& id) {
    return new AccessibleElement(std::move(source), id);
}

long msaaRole(AccessRole role) {
    switch (role) {
        case AccessRole::Client: return ROLE_SYSTEM_CLIENT;
        case AccessRole::Toolbar: return ROLE_SYSTEM_TOOLBAR;
        case AccessRole::PageTabList: return ROLE_SYSTEM_PAGETABLIST;
        case AccessRole::PageTab: return ROLE_SYSTEM_PAGETAB;
        case AccessRole::List: return ROLE_SYSTEM_LIST;
        case AccessRole::ListItem: return ROLE_SYSTEM_LISTITEM;
        case AccessRole::PushButton: return ROLE_SYSTEM_PUSHBUTTON;
        case AccessRole::ProgressBar: return ROLE_SYSTEM_PROGRESSBAR;
        case AccessRole::StaticText: return ROLE_SYSTEM_STATICTEXT;
        case AccessRole::Text: return ROLE_SYSTEM_TEXT;
        case AccessRole::MenuPopup: return ROLE_SYSTEM_MENUPOPUP;
        case AccessRole::MenuItem: return ROLE_SYSTEM_MENUITEM;
        case AccessRole::Slider: return ROLE_SYSTEM_SLIDER;
        case AccessRole::CheckButton: return ROLE_SYSTEM_CHECKBUTTON;
    }
    return ROLE_SYSTEM_CLIENT;
}

long msaaState(uint32_t states) {
    struct Bit {
        uint32_t ours;
        long theirs;
    };
    constexpr Bit kBits[] = {
        {AccessFocused, STATE_SYSTEM_FOCUSED},       {AccessSelected, STATE_SYSTEM_SELECTED},
        {AccessUnavailable, STATE_SYSTEM_UNAVAILABLE}, {AccessBusy, STATE_SYSTEM_BUSY},
        {AccessFocusable, STATE_SYSTEM_FOCUSABLE},   {AccessSelectable, STATE_SYSTEM_SELECTABLE},
        {AccessOffscreen, STATE_SYSTEM_OFFSCREEN},   {AccessProtected, STATE_SYSTEM_PROTECTED},
        {AccessChecked, STATE_SYSTEM_CHECKED},
    };
    long result = 0;
    for (const Bit& bit : kBits)
        if (states & bit.ours) result |= bit.theirs;
    return result;
}
