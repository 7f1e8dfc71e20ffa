#pragma once

#include <memory>

class CServiceRelay;
class ICapiControl;

// Where the hub gets its CAPI driver test and its connection controller.
class ICapiProvider {
public:
    virtual ~ICapiProvider() = default;
    // Binds the driver for a moment and asks whether it is installed: true
    // when all entry points are bound and it does not answer "not installed".
    virtual bool DriverAnswers() = 0;
    // A new connection controller for the hub; null when none can be made.
    virtual std::unique_ptr<ICapiControl> CreateControl(CServiceRelay& relay) = 0;
};
