// Incoming CAPI messages as the driver could hand them over: the controller's
// dispatch with every handler behind it, without a driver bound (answers go
// nowhere). The message is the input's first `total` bytes, as its own first
// word says (at most the input); the buffer goes on with room for a data
// block, and a DATA_B3_IND's address points behind the message, where the
// library puts the block, unless the fuzzer's address byte is odd.
// DATA_B3_CONF is left out: without a request it only waits out its bound.
#include "FuzzRelay.h"

#include "capi/CCapiControl.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CCapiControl control(&FuzzRelay::Get());
    if (size < 8 || size > 0xFFFF)
        return 0;
    std::vector<uint8_t> buffer(data, data + size);
    buffer.resize(size + 2048 + 64);
    size_t total = buffer[0] | (buffer[1] << 8);
    if (total < 8 || total > size) {
        total = size;
        buffer[0] = static_cast<uint8_t>(total);
        buffer[1] = static_cast<uint8_t>(total >> 8);
    }
    // A confirmation waits up to 2500 ms for the request it confirms; none was sent here.
    if (buffer[4] == 0x86 && buffer[5] == 0x81)
        return 0;
    const bool dataInd = buffer[4] == 0x86 && buffer[5] == 0x82;
    if (dataInd && total >= 30 && (buffer[22] & 1) == 0) {
        const uint64_t address = reinterpret_cast<uintptr_t>(buffer.data() + total);
        std::memcpy(buffer.data() + 22, &address, sizeof address);
    }
    control.Dispatch(buffer.data());
    return 0;
}
