#pragma once

#include "FakeDriver.h"
#include "FakeRelayApp.h"

#include "capi/CCapiControl.h"
#include "capi/CCapiProvider.h"
#include "relay/CServiceRelay.h"

#include <gtest/gtest.h>

#include <memory>

// A controller on the fake driver, started, with a real hub and a recording main window.
class CapiControlFixture : public ::testing::Test {
protected:
    static constexpr uint32_t PLCI = 0x0101;
    static constexpr uint32_t NCCI = 0x10101;

    void SetUp() override;
    void TearDown() override;

    // Dials and answers as the network does, up to the data link.
    void BringUp();
    // Keys that the driver was given from `from` on, without the Drain markers.
    std::vector<uint16_t> KeysSince(int from) const;

    FakeRelayApp m_app;
    std::unique_ptr<CCapiProvider> m_provider;
    std::unique_ptr<CServiceRelay> m_relay;
    std::unique_ptr<CCapiControl> m_control;
};
