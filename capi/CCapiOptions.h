#pragma once

#include <string>

// How the CAPI binding is set up; the defaults are the program's. Tests name
// a fake library here and shorten the bounds.
struct CCapiOptions {
    std::string library = "libcapi20.so.3";  // loaded through the ordinary library search
    int callTimeoutMs = 2000;                // longest wait for capi20_isinstalled and capi20_register
    int waitSliceMs = 100;                   // one capi20_waitformessage slice
    int threadEndWaitMs = 5000;              // longest wait for the receive thread to end
};
