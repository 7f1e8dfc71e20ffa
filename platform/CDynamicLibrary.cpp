#include "platform/CDynamicLibrary.h"

#include <dlfcn.h>

CDynamicLibrary::~CDynamicLibrary()
{
    Unload();
}

bool CDynamicLibrary::Load(const std::string& name)
{
    Unload();
    m_hModule = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    return m_hModule != nullptr;
}

void* CDynamicLibrary::Symbol(const char* name) const
{
    return m_hModule ? dlsym(m_hModule, name) : nullptr;
}

void CDynamicLibrary::Unload()
{
    if (m_hModule) {
        dlclose(m_hModule);
        m_hModule = nullptr;
    }
}
