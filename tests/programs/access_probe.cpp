// An accessibility client in a process of its own, as a screen reader is: reads Quillbox's main window
// through AccessibleObjectFromWindow. The end-to-end runs start it beside the program.
//   access_probe list                 one line per object, depth first:
//                                     depth|role|state|name|description|default action|value|x,y,w,h
//   access_probe press NAME [PARENT]  does the default action of the first object named NAME (under an
//                                     object named PARENT); prints "pressed" or why not. Names come
//                                     percent-encoded UTF-8, so no code page stands between.
//   access_probe controls CLASS       one line per child window of the top-level window of CLASS
#include <windows.h>
#include <oleacc.h>

#include <cwchar>
#include <string>

#include "base/text_convert.h"

namespace {

void print(const std::wstring& line) {
    const std::string bytes = wideToUtf8(line + L"\n");
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

VARIANT self() {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = CHILDID_SELF;
    return v;
}

std::wstring text(IAccessible* object, HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, BSTR*)) {
    BSTR value = nullptr;
    if (FAILED((object->*get)(self(), &value)) || !value) return L"";
    std::wstring out(value, ::SysStringLen(value));
    ::SysFreeString(value);
    return out;
}

long number(IAccessible* object, HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, VARIANT*)) {
    VARIANT value;
    ::VariantInit(&value);
    if (FAILED((object->*get)(self(), &value)) || value.vt != VT_I4) return -1;
    return value.lVal;
}

std::wstring describe(IAccessible* object, int depth) {
    long x = 0, y = 0, w = 0, h = 0;
    object->accLocation(&x, &y, &w, &h, self());
    return std::to_wstring(depth) + L"|" + std::to_wstring(number(object, &IAccessible::get_accRole)) + L"|" +
           std::to_wstring(number(object, &IAccessible::get_accState)) + L"|" + text(object, &IAccessible::get_accName) +
           L"|" + text(object, &IAccessible::get_accDescription) + L"|" +
           text(object, &IAccessible::get_accDefaultAction) + L"|" + text(object, &IAccessible::get_accValue) + L"|" +
           std::to_wstring(x) + L"," + std::to_wstring(y) + L"," + std::to_wstring(w) + L"," + std::to_wstring(h);
}

struct Walk {
    const wchar_t* press = nullptr;   // the name looked for; null lists everything
    const wchar_t* parent = nullptr;  // and its parent's name
    bool done = false;
};

void walk(IAccessible* object, int depth, const std::wstring& parentName, Walk& how) {
    const std::wstring name = text(object, &IAccessible::get_accName);
    if (!how.press) print(describe(object, depth));
    if (how.press && !how.done && name == how.press && (!how.parent || parentName == how.parent)) {
        how.done = true;
        print(SUCCEEDED(object->accDoDefaultAction(self())) ? L"pressed" : L"refused");
        return;
    }
    long count = 0;
    object->get_accChildCount(&count);
    if (count <= 0) return;
    VARIANT children[256];
    long got = 0;
    if (FAILED(::AccessibleChildren(object, 0, count > 256 ? 256 : count, children, &got))) return;
    for (long i = 0; i < got; ++i) {
        if (children[i].vt == VT_DISPATCH && children[i].pdispVal) {
            IAccessible* child = nullptr;
            if (SUCCEEDED(children[i].pdispVal->QueryInterface(IID_IAccessible, reinterpret_cast<void**>(&child)))) {
                walk(child, depth + 1, name, how);
                child->Release();
            }
        }
        ::VariantClear(&children[i]);
    }
}

std::wstring decoded(const wchar_t* encoded) {
    std::string bytes;
    for (const wchar_t* c = encoded; *c; ++c) {
        if (*c == L'%' && c[1] && c[2]) {
            bytes += static_cast<char>(std::wcstol(std::wstring(c + 1, 2).c_str(), nullptr, 16));
            c += 2;
        } else {
            bytes += static_cast<char>(*c);
        }
    }
    return utf8ToWide(bytes);
}

BOOL CALLBACK describeControl(HWND child, LPARAM) {
    IAccessible* object = nullptr;
    if (SUCCEEDED(::AccessibleObjectFromWindow(child, OBJID_CLIENT, IID_IAccessible, reinterpret_cast<void**>(&object)))) {
        print(describe(object, 1));
        object->Release();
    }
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    ::CoInitialize(nullptr);
    if (std::wstring(argv[1]) == L"controls" && argc >= 3) {
        HWND parent = ::FindWindowW(argv[2], nullptr);
        if (parent) ::EnumChildWindows(parent, describeControl, 0);
        ::CoUninitialize();
        return parent ? 0 : 3;
    }
    HWND window = ::FindWindowW(L"QBMainWnd", nullptr);
    IAccessible* root = nullptr;
    if (!window || FAILED(::AccessibleObjectFromWindow(window, OBJID_CLIENT, IID_IAccessible,
                                                       reinterpret_cast<void**>(&root)))) {
        print(L"no window");
        return 3;
    }
    Walk how;
    const std::wstring press = argc >= 3 ? decoded(argv[2]) : L"";
    const std::wstring parent = argc >= 4 ? decoded(argv[3]) : L"";
    if (std::wstring(argv[1]) == L"press" && argc >= 3) {
        how.press = press.c_str();
        how.parent = argc >= 4 ? parent.c_str() : nullptr;
    }
    walk(root, 0, L"", how);
    if (how.press && !how.done) print(L"not found");
    root->Release();
    ::CoUninitialize();
    return how.press && !how.done ? 1 : 0;
}
