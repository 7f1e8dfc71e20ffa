// Status page expansion with fuzzed templates and hub values: the first four
// bytes pick the state and the info value, the rest is the template.
#include "FuzzRelay.h"

#include "http/COfflineResponder.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CServiceRelay& relay = FuzzRelay::Get();
    if (size < 4)
        return 0;
    relay.m_nState = static_cast<int8_t>(data[0]) % 9;
    relay.m_wLastInfo = static_cast<uint16_t>(data[1] | (data[2] << 8));
    relay.m_strNumber.assign(reinterpret_cast<const char*>(data + 4), data[3] % 8 < size - 4 ? data[3] % 8 : 0);
    COfflineResponder responder(&relay, "/nonexistent");
    responder.m_pszTemplate = std::string(reinterpret_cast<const char*>(data + 4), size - 4);
    auto page = responder.BuildStatusPage();
    if (!page || page->size() < std::string(responder.m_pszTemplate->c_str()).size())
        std::abort();  // the page always holds the whole template up to its end
    const std::string answer = responder.BuildResponse(COfflineResponder::STATUS_OK);
    if (answer.compare(0, 17, "HTTP/1.1 200 OK\r\n") != 0)
        std::abort();
    return 0;
}
