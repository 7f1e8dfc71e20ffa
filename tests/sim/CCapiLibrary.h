#pragma once

#include <sys/time.h>

#include <string>

// The real libcapi20.so.3, loaded with dlopen and bound by the few entry
// points the test client uses. Declared here on purpose: the tests drive the
// library as any application would, without its development headers.
class CCapiLibrary {
public:
    using RegisterFn = unsigned (*)(unsigned maxLogicalConnection, unsigned maxBDataBlocks, unsigned maxBDataLen, unsigned* applId);
    using ReleaseFn = unsigned (*)(unsigned applId);
    using PutMessageFn = unsigned (*)(unsigned applId, unsigned char* msg);
    using GetMessageFn = unsigned (*)(unsigned applId, unsigned char** msg);
    using WaitFn = unsigned (*)(unsigned applId, timeval* timeout);
    using InstalledFn = unsigned (*)();
    using TextFn = unsigned char* (*)(unsigned controller, unsigned char* buffer);
    using ProfileFn = unsigned (*)(unsigned controller, unsigned char* buffer);
    using FilenoFn = int (*)(unsigned applId);

    CCapiLibrary() = default;
    ~CCapiLibrary();
    CCapiLibrary(const CCapiLibrary&) = delete;
    CCapiLibrary& operator=(const CCapiLibrary&) = delete;

    // Loads the library; false with a reason when it or an entry point is missing.
    bool Load(std::string& error);

    RegisterFn Register = nullptr;     // capi20_register
    ReleaseFn Release = nullptr;       // capi20_release
    PutMessageFn PutMessage = nullptr; // capi20_put_message
    GetMessageFn GetMessage = nullptr; // capi20_get_message
    WaitFn WaitForMessage = nullptr;   // capi20_waitformessage
    InstalledFn IsInstalled = nullptr; // capi20_isinstalled
    TextFn GetManufacturer = nullptr;  // capi20_get_manufacturer
    TextFn GetVersion = nullptr;       // capi20_get_version
    TextFn GetSerialNumber = nullptr;  // capi20_get_serial_number
    ProfileFn GetProfile = nullptr;    // capi20_get_profile
    FilenoFn Fileno = nullptr;         // capi20_fileno

private:
    void* m_pHandle = nullptr; // the loaded library
};
