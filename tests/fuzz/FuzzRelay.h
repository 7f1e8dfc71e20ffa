#pragma once

#include "relay/CServiceRelay.h"
#include "relay/ICapiControl.h"
#include "relay/ICapiProvider.h"

#include <QCoreApplication>

#include <memory>

// One hub for a fuzz process, with no driver and no window.
class FuzzRelay {
public:
    static CServiceRelay& Get()
    {
        static int argc = 1;
        static char name[] = "fuzz";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
        static NoDriver capi;
        static CServiceRelay relay(nullptr, capi);
        return relay;
    }

private:
    class NoDriver : public ICapiProvider {
    public:
        bool DriverAnswers() override { return false; }
        std::unique_ptr<ICapiControl> CreateControl(CServiceRelay&) override { return nullptr; }
    };
};
