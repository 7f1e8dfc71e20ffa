// The offline responder's request handling: any bytes a browser (or anything
// else) sends to the loopback port in one read.
#include "FuzzRelay.h"

#include "http/COfflineResponder.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CServiceRelay& relay = FuzzRelay::Get();
    // One read never holds more than 2047 bytes.
    const int count = static_cast<int>(size > 2047 ? 2047 : size);
    relay.m_pResponder->HandleRequest(count, data);
    return 0;
}
