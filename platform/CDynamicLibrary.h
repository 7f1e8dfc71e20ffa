#pragma once

#include <string>

// A shared library loaded by name through the ordinary library search.
// Unloaded by the destructor; the owner must make sure no thread is still
// inside the library by then.
class CDynamicLibrary {
public:
    CDynamicLibrary() = default;
    ~CDynamicLibrary();
    CDynamicLibrary(const CDynamicLibrary&) = delete;
    CDynamicLibrary& operator=(const CDynamicLibrary&) = delete;

    // Loads the library; false when it cannot be found or loaded.
    bool Load(const std::string& name);
    // The address of an exported symbol, or null.
    void* Symbol(const char* name) const;
    bool IsLoaded() const { return m_hModule != nullptr; }
    void Unload();

private:
    void* m_hModule = nullptr;  // handle from the dynamic loader; null when not loaded
};
