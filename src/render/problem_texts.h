#pragma once
// What the window, its message boxes and the console say when the network or the catalogue failed:
// the layers below record what went wrong, the words are chosen here.
#include <string>

#include "net/http_client.h"
#include "service/catalogue.h"

// "请求发送失败 (winhttp 12029)", "HTTP 404", "重定向死循环" …; "网络错误" when nothing was recorded.
std::wstring httpErrorText(const HttpError& error);
// "数据格式错误", "应用数量超出上限" …, or the HTTP client's words for a failed exchange.
std::wstring catalogueErrorText(const CatalogueError& error);
