#pragma once

#include <cstdint>
#include <optional>
#include <string>

class CServiceRelay;

// Answers the browser while no call carries its traffic: the status page for
// every GET, 403 for any other method, 404 when there is no template.
class COfflineResponder {
public:
    // Status table indices.
    enum Status { STATUS_OK = 0, STATUS_FORBIDDEN = 1, STATUS_NOT_FOUND = 2, STATUS_SERVER_ERROR = 3 };
    // How long the answer may wait for a browser that does not read.
    static constexpr int SEND_STALL_TIMEOUT_MS = 5000;

    // Loads the template from `templatePath`, by default "HttpStatus.html" in
    // the current directory.
    explicit COfflineResponder(CServiceRelay* relay, const std::string& templatePath = std::string());
    COfflineResponder(const COfflineResponder&) = delete;
    COfflineResponder& operator=(const COfflineResponder&) = delete;

    // The bytes of one read event of the connection in service (not taken over).
    void HandleRequest(int count, const uint8_t* bytes);
    // Builds the answer for a status index, sends it on the connection in service and ends that connection.
    void SendResponse(int index);
    // The expanded status page (Windows-1252 bytes), or none without a template.
    std::optional<std::string> BuildStatusPage() const;
    // The whole answer for a status index, as SendResponse sends it.
    std::string BuildResponse(int index) const;

    std::optional<std::string> m_pszTemplate;  // the template up to its end, read once; none when missing or empty
    CServiceRelay* m_pRelay;                   // the hub, not owned
};
