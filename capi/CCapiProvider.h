#pragma once

#include "capi/CCapiInterface.h"
#include "relay/ICapiProvider.h"

// The hub's driver test and controller factory on the real CAPI binding.
class CCapiProvider : public ICapiProvider {
public:
    // The options reach every binding it makes; tests name a fake library there.
    explicit CCapiProvider(CCapiInterface::Options options = CCapiInterface::Options());

    bool DriverAnswers() override;
    std::unique_ptr<ICapiControl> CreateControl(CServiceRelay& relay) override;

private:
    const CCapiInterface::Options m_options;  // how each binding is set up
};
