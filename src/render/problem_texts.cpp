#include "render/problem_texts.h"

namespace {

std::wstring winhttpText(const wchar_t* what, DWORD code) {
    return std::wstring(what) + L" (winhttp " + std::to_wstring(code) + L")";
}

}  // namespace

std::wstring httpErrorText(const HttpError& error) {
    switch (error.fault) {
        case HttpFault::None: break;
        case HttpFault::SessionFailed: return L"网络初始化失败";
        case HttpFault::RequestFailed: return L"创建请求失败";
        case HttpFault::SendFailed: return winhttpText(L"请求发送失败", error.systemCode);
        case HttpFault::NoResponse: return winhttpText(L"服务器无响应", error.systemCode);
        case HttpFault::QueryFailed: return winhttpText(L"读取数据失败", error.systemCode);
        case HttpFault::ReadInterrupted: return winhttpText(L"读取数据中断", error.systemCode);
        case HttpFault::BodyTooLarge: return L"响应过大";
        case HttpFault::RedirectLoop: return L"重定向死循环";
        case HttpFault::InsecureRedirect: return L"重定向到不安全的地址";
        case HttpFault::RedirectKeepsBody: return L"重定向到其他站点时无法重发请求内容";
        case HttpFault::TooManyRedirects: return L"重定向次数过多";
        case HttpFault::InvalidUrl: return L"地址无效";
        case HttpFault::LocationUnreadable: return L"重定向地址无法读取";
        case HttpFault::HttpStatus: return L"HTTP " + std::to_wstring(error.status);
        case HttpFault::ProxyAuthRequired: return L"代理需要身份验证";
    }
    return L"网络错误";
}

std::wstring catalogueErrorText(const CatalogueError& error) {
    switch (error.fault) {
        case CatalogueFault::None: break;
        case CatalogueFault::Network: return httpErrorText(error.http);
        case CatalogueFault::BadData: return L"数据格式错误";
        case CatalogueFault::TooManyCategories: return L"分类数量超出上限";
        case CatalogueFault::TooManyApps: return L"应用数量超出上限";
    }
    return std::wstring();
}
