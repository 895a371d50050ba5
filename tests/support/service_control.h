#pragma once
// A client for the local catalogue service's test-mode control API (service/README.md).
#include <cstdint>
#include <string>
#include <vector>

#include "json/json.h"

namespace qbtest {

// One entry of the service's request log.
struct LoggedRequest {
    int64_t seq = -1;
    std::string method;
    std::string path;   // with its query
    std::string range;  // the Range header, empty when none was sent
    int32_t status = 0;
    int64_t bytes = 0;    // body bytes sent
    std::string dropped;  // empty, "closed", "reset" or "client"
    double time = 0;      // when the service began to answer, seconds since 1970
};

class ServiceControl {
public:
    // The service the test runs against: QB_TEST_SERVER from the environment.
    ServiceControl();
    explicit ServiceControl(std::wstring baseUrl);

    bool available() const { return !base_.empty(); }
    const std::wstring& base() const { return base_; }
    // base + path, for example url(L"/api/client/bootstrap").
    std::wstring url(const std::wstring& path) const;

    // Forgets faults, expiring targets, the request log and the reports.
    bool reset();
    // Queues faults (a JSON array text) for an exact path, or a path prefix ending in "*".
    bool addPathFaults(const std::string& path, const std::string& faultsArray);
    // Queues faults for one app's package file (appId -1: every app's).
    bool addAppFaults(int32_t appId, const std::string& faultsArray);
    // Each download redirect of appId gets a fresh target valid for `uses` requests.
    bool expireTargets(int32_t appId, int32_t uses);

    bool resetLog();
    // Requests logged since entry `since`; maxInFlight receives the peak of concurrent package requests.
    std::vector<LoggedRequest> requests(int64_t since = 0, int64_t* maxInFlight = nullptr) const;
    // The valid install reports since the last reset, each as its parsed JSON record.
    std::vector<json::ValuePtr> reports() const;

    // A JSON text with its string content escaped (for building fault scripts).
    static std::string quoted(const std::string& text);
    // Bytes as base64, for a fault's "bodyBase64".
    static std::string base64(const std::string& bytes);

private:
    bool post(const std::wstring& path, const std::string& body) const;
    json::ValuePtr getJson(const std::wstring& path) const;

    std::wstring base_;
};

}  // namespace qbtest
