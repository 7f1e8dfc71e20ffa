#include "capi/CCapiProvider.h"

#include "capi/CCapiControl.h"
#include "capi/CapiConstants.h"

CCapiProvider::CCapiProvider(CCapiInterface::Options options) : m_options(std::move(options)) {}

bool CCapiProvider::DriverAnswers()
{
    // Bound for a moment only: the library is unloaded again with the probe.
    CCapiInterface probe(m_options);
    return probe.IsBound() && probe.Installed() != Capi::INFO_NOT_INSTALLED;
}

std::unique_ptr<ICapiControl> CCapiProvider::CreateControl(CServiceRelay& relay)
{
    return std::make_unique<CCapiControl>(&relay, m_options);
}
