#pragma once

#include "relay/ICapiProvider.h"

// The hub's driver test and controller factory on the real CAPI binding.
class CCapiProvider : public ICapiProvider {
public:
    bool DriverAnswers() override;
    std::unique_ptr<ICapiControl> CreateControl(CServiceRelay& relay) override;
};
