#pragma once

#include "CFakeCapiControl.h"
#include "relay/ICapiProvider.h"

#include <memory>

// The hub's driver test and controller factory without a driver: it answers
// as told and hands out recording controllers.
class CFakeCapiProvider : public ICapiProvider {
public:
    bool DriverAnswers() override { return m_bDriver; }
    std::unique_ptr<ICapiControl> CreateControl(CServiceRelay&) override
    {
        auto control = std::make_unique<CFakeCapiControl>();
        m_pLast = control.get();
        return control;
    }

    bool m_bDriver = false;                // what the driver test answers
    CFakeCapiControl* m_pLast = nullptr;   // the controller made last; owned by the hub
};
