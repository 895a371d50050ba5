#include "support/service_control.h"

#include "net/http_client.h"
#include "support/test_support.h"

namespace qbtest {

ServiceControl::ServiceControl() : ServiceControl(environment(L"QB_TEST_SERVER")) {}

ServiceControl::ServiceControl(std::wstring baseUrl) : base_(std::move(baseUrl)) {
    while (!base_.empty() && base_.back() == L'/') base_.pop_back();
}

std::wstring ServiceControl::url(const std::wstring& path) const { return base_ + path; }

bool ServiceControl::post(const std::wstring& path, const std::string& body) const {
    HttpRequest request;
    request.url = url(path);
    request.method = L"POST";
    request.headers = {{L"Content-Type", L"application/json"}};
    request.body = body;
    HttpResponse response;
    HttpError error;
    if (HttpClient::Send(request, response, error) != HttpResult::Ok) return false;
    const json::ValuePtr answer = json::parse(response.body);
    return answer && answer->find("code") && answer->find("code")->asInt(-1) == 0;
}

json::ValuePtr ServiceControl::getJson(const std::wstring& path) const {
    std::string body;
    HttpError error;
    if (!HttpClient::Get(url(path), body, error)) return nullptr;
    return json::parse(body);
}

bool ServiceControl::reset() { return post(L"/test/reset", "{}"); }

bool ServiceControl::addPathFaults(const std::string& path, const std::string& faultsArray) {
    return post(L"/test/faults", "{\"path\":" + quoted(path) + ",\"faults\":" + faultsArray + "}");
}

bool ServiceControl::addAppFaults(int32_t appId, const std::string& faultsArray) {
    const std::string target = appId < 0 ? std::string("\"*\"") : std::to_string(appId);
    return post(L"/test/faults", "{\"app\":" + target + ",\"faults\":" + faultsArray + "}");
}

bool ServiceControl::expireTargets(int32_t appId, int32_t uses) {
    return post(L"/test/expire", "{\"app\":" + std::to_string(appId) + ",\"uses\":" + std::to_string(uses) + "}");
}

bool ServiceControl::resetLog() { return post(L"/test/log/reset", "{}"); }

std::vector<LoggedRequest> ServiceControl::requests(int64_t since, int64_t* maxInFlight) const {
    std::vector<LoggedRequest> out;
    const json::ValuePtr answer = getJson(L"/test/log?since=" + std::to_wstring(since));
    if (!answer) return out;
    if (maxInFlight) {
        const json::Value* peak = answer->find("maxInFlight");
        *maxInFlight = peak ? peak->asInt64(-1) : -1;
    }
    const json::Value* list = answer->find("requests");
    if (!list) return out;
    for (const json::ValuePtr& item : list->items) {
        LoggedRequest entry;
        auto member = [&item](const char* key) -> const json::Value& {
            static const json::Value kNull;
            const json::Value* found = item->find(key);
            return found ? *found : kNull;
        };
        entry.seq = member("seq").asInt64(-1);
        entry.method = member("method").asString("");
        entry.path = member("path").asString("");
        entry.range = member("range").asString("");
        entry.status = member("status").asInt(0);
        entry.bytes = member("bytes").asInt64(0);
        entry.dropped = member("dropped").asString("");
        entry.time = member("time").asDouble(0);
        out.push_back(std::move(entry));
    }
    return out;
}

std::vector<json::ValuePtr> ServiceControl::reports() const {
    const json::ValuePtr answer = getJson(L"/test/reports");
    const json::Value* list = answer ? answer->find("reports") : nullptr;
    return list ? list->items : std::vector<json::ValuePtr>();
}

std::string ServiceControl::quoted(const std::string& text) { return "\"" + json::escapeString(text) + "\""; }

std::string ServiceControl::base64(const std::string& bytes) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t group = static_cast<uint8_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) group |= static_cast<uint8_t>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) group |= static_cast<uint8_t>(bytes[i + 2]);
        out += kDigits[group >> 18];
        out += kDigits[(group >> 12) & 63];
        out += i + 1 < bytes.size() ? kDigits[(group >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kDigits[group & 63] : '=';
    }
    return out;
}

}  // namespace qbtest
