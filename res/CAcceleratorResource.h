#pragma once

#include <vector>

// The accelerator table (resource 128): each key, in Qt's portable key
// sequence notation, with the command it triggers.
class CAcceleratorResource {
public:
    struct Entry {
        const char* keys;   // portable key sequence text, e.g. "Ctrl+N"
        int id;             // command id
    };

    static const std::vector<Entry>& MainAccelerators();
};
