// The simulator's reading of a client's byte stream: frames cut from chunks
// of any size, and each payload decoded as a CAPI message.
#include "sim/CCapiMessage.h"
#include "sim/CFrameAssembler.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CFrameAssembler assembler;
    // The first byte sets the chunk size, as the network could split the stream.
    const size_t chunk = size ? 1 + data[0] % 64 : 1;
    for (size_t at = size ? 1 : 0; at < size; at += chunk) {
        assembler.Append(std::span<const uint8_t>(data + at, std::min(chunk, size - at)));
        std::vector<uint8_t> payload;
        std::string error;
        for (;;) {
            const auto result = assembler.Next(payload, error);
            if (result == CFrameAssembler::EResult::Malformed)
                return 0;
            if (result == CFrameAssembler::EResult::NeedMore)
                break;
            CCapiMessage::Decode(payload, error);
        }
    }
    return 0;
}
