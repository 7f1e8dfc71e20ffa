#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// The device's side of one tunnelled browser connection: it is fed the
// request bytes, learns when the browser has gone, and yields the answer in
// pieces. Once Finished(), the device ends the connection with {0x01}.
class CTunnelSession {
public:
    virtual ~CTunnelSession() = default;

    // Request bytes from a {0x00, bytes} block.
    virtual void OnRequestBytes(std::span<const std::uint8_t> bytes) = 0;
    // The block {0x00} alone: the browser closed its side.
    virtual void OnBrowserClosed() = 0;
    // Copies up to max answer bytes into buffer; 0 when none are ready now.
    virtual std::size_t ReadResponse(std::uint8_t* buffer, std::size_t max) = 0;
    // Nothing more will come: the connection can be ended.
    virtual bool Finished() const = 0;
};
