#pragma once

#include <cstdint>
#include <memory>

// The ISDN connection controller as the hub and its outbound pump use it.
class ICapiControl {
public:
    virtual ~ICapiControl() = default;
    // Main thread: checks the driver, registers an application, starts the receive thread. 0 on success, 1 on failure.
    virtual int Start() = 0;
    // Main thread: dials; true when the driver took the CONNECT_REQ. Either number may be null.
    virtual bool Connect(const char* number, const char* ownNumber) = 0;
    // Main or pump thread: starts clearing the call, if one is being made or is up. Always true.
    virtual bool Disconnect() = 0;
    // Pump thread: sends one tunnel block as DATA_B3_REQ and returns after its
    // confirmation or 2500 ms. Returns the length when it has taken the block
    // (moved out of `block`), 0 when it refused it (`block` stays with the caller).
    virtual int SendData(std::unique_ptr<uint8_t[]>& block, int length) = 0;
};
