#include "capi/CCapiFunctions.h"

#include "platform/CDynamicLibrary.h"

namespace {
template <typename Fn>
bool Look(const CDynamicLibrary& library, const char* name, Fn& fn)
{
    fn = reinterpret_cast<Fn>(library.Symbol(name));
    return fn != nullptr;
}
}  // namespace

bool CCapiFunctions::Bind(const CDynamicLibrary& library)
{
    bool all = true;
    all = Look(library, "capi20_register", Register) && all;
    all = Look(library, "capi20_release", Release) && all;
    all = Look(library, "capi20_put_message", PutMessage) && all;
    all = Look(library, "capi20_get_message", GetMessage) && all;
    all = Look(library, "capi20_waitformessage", WaitForMessage) && all;
    all = Look(library, "capi20_get_manufacturer", GetManufacturer) && all;
    all = Look(library, "capi20_get_version", GetVersion) && all;
    all = Look(library, "capi20_get_serial_number", GetSerialNumber) && all;
    all = Look(library, "capi20_get_profile", GetProfile) && all;
    all = Look(library, "capi20_isinstalled", Installed) && all;
    if (!all) {
        Clear();
        return false;
    }
    Look(library, "capi20_fileno", Fileno);
    return true;
}

void CCapiFunctions::Clear()
{
    *this = CCapiFunctions();
}
