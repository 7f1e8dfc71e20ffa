#include "CCapiLibrary.h"

#include <dlfcn.h>

CCapiLibrary::~CCapiLibrary()
{
    // The library keeps state for the process's lifetime; it is not unloaded.
}

bool CCapiLibrary::Load(std::string& error)
{
    m_pHandle = ::dlopen("libcapi20.so.3", RTLD_NOW);
    if (!m_pHandle) {
        error = ::dlerror();
        return false;
    }
    bool ok = true;
    auto bind = [&](auto& fn, const char* name) {
        fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(::dlsym(m_pHandle, name));
        if (!fn) {
            error += std::string(error.empty() ? "" : ", ") + "missing " + name;
            ok = false;
        }
    };
    bind(Register, "capi20_register");
    bind(Release, "capi20_release");
    bind(PutMessage, "capi20_put_message");
    bind(GetMessage, "capi20_get_message");
    bind(WaitForMessage, "capi20_waitformessage");
    bind(IsInstalled, "capi20_isinstalled");
    bind(GetManufacturer, "capi20_get_manufacturer");
    bind(GetVersion, "capi20_get_version");
    bind(GetSerialNumber, "capi20_get_serial_number");
    bind(GetProfile, "capi20_get_profile");
    bind(Fileno, "capi20_fileno");
    return ok;
}
