#include "access/control_object.h"

#include <memory>

#include "access/access_source.h"
#include "access/msaa_element.h"

LRESULT answerControlObject(HWND control, WPARAM wp, LPARAM lp, AccessNode node) {
    if (static_cast<LONG>(lp) != OBJID_CLIENT) return ::DefWindowProcW(control, WM_GETOBJECT, wp, lp);
    node.id = L"client";
    ::GetClientRect(control, &node.rect);
    if (::GetFocus() == control) node.states |= AccessFocused;
    auto tree = std::make_shared<AccessTree>();
    tree->nodes.push_back(std::move(node));
    tree->byId[L"client"] = 0;
    tree->focused = (tree->nodes[0].states & AccessFocused) ? 0 : -1;
    POINT origin{0, 0};
    ::ClientToScreen(control, &origin);
    auto source = std::make_shared<AccessSource>(control);
    source->publish(std::move(tree), origin);
    IAccessible* object = newAccessibleElement(source, L"client");
    const LRESULT result = ::LresultFromObject(IID_IAccessible, wp, object);
    object->Release();
    return result;
}
