#include "capi/CCapiProvider.h"

#include "relay/ICapiControl.h"

// Until the binding exists there is no driver: the hub stays in "Fehler".
bool CCapiProvider::DriverAnswers()
{
    return false;
}

std::unique_ptr<ICapiControl> CCapiProvider::CreateControl(CServiceRelay&)
{
    return nullptr;
}
