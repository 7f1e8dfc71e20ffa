#pragma once

#include <sys/time.h>

class CDynamicLibrary;

// The entry points of the Linux CAPI 2.0 library, looked up by name. The ten
// standard ones are bound all or none; capi20_fileno is an extra that may be
// missing without unbinding the rest.
class CCapiFunctions {
public:
    using RegisterFn = unsigned (*)(unsigned maxLogicalConnection, unsigned maxBDataBlocks, unsigned maxBDataLen,
                                    unsigned* applId);
    using ReleaseFn = unsigned (*)(unsigned applId);
    using PutMessageFn = unsigned (*)(unsigned applId, unsigned char* message);
    using GetMessageFn = unsigned (*)(unsigned applId, unsigned char** message);
    using WaitForMessageFn = unsigned (*)(unsigned applId, struct timeval* timeout);
    using GetManufacturerFn = unsigned char* (*)(unsigned controller, unsigned char* buffer);
    using GetVersionFn = unsigned char* (*)(unsigned controller, unsigned char* buffer);
    using GetSerialNumberFn = unsigned char* (*)(unsigned controller, unsigned char* buffer);
    using GetProfileFn = unsigned (*)(unsigned controller, unsigned char* buffer);
    using IsInstalledFn = unsigned (*)();
    using FilenoFn = int (*)(unsigned applId);

    // Looks up every entry point in `library`; true when the ten standard ones
    // were all found. Otherwise all of them are left null.
    bool Bind(const CDynamicLibrary& library);
    void Clear();
    bool IsBound() const { return Installed != nullptr; }

    RegisterFn Register = nullptr;              // capi20_register
    ReleaseFn Release = nullptr;                // capi20_release
    PutMessageFn PutMessage = nullptr;          // capi20_put_message
    GetMessageFn GetMessage = nullptr;          // capi20_get_message
    WaitForMessageFn WaitForMessage = nullptr;  // capi20_waitformessage
    GetManufacturerFn GetManufacturer = nullptr;  // capi20_get_manufacturer, never called
    GetVersionFn GetVersion = nullptr;            // capi20_get_version, never called
    GetSerialNumberFn GetSerialNumber = nullptr;  // capi20_get_serial_number, never called
    GetProfileFn GetProfile = nullptr;            // capi20_get_profile, never called
    IsInstalledFn Installed = nullptr;            // capi20_isinstalled
    FilenoFn Fileno = nullptr;                    // capi20_fileno: the transport socket, for TCP_NODELAY
};
