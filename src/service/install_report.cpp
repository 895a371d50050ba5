#include "service/install_report.h"

#include "base/worker_thread.h"
#include "base/text_convert.h"
#include "json/json.h"
#include "net/http_client.h"

std::string installReportBody(int32_t appId, const std::wstring& channel) {
    return "{\"appId\":" + std::to_string(appId) + ",\"event\":\"install\",\"channel\":\"" +
           json::escapeString(wideToUtf8(channel)) + "\"}";
}

bool reportInstall(const std::wstring& server, int32_t appId, const std::wstring& channel) {
    HttpRequest request;
    request.url = server + L"/api/client/report";
    request.headers = {{L"Content-Type", L"application/json"}};
    request.body = installReportBody(appId, channel);
    request.method = L"POST";
    HttpResponse response;
    HttpError error;
    return HttpClient::Send(request, response, error) == HttpResult::Ok;
}

bool reportInstallInBackground(const std::wstring& server, int32_t appId, const std::wstring& channel) {
    return qb::startWorker([server, appId, channel] { reportInstall(server, appId, channel); });
}
