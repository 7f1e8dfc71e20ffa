#pragma once

#include <string>

// Conversion between the UTF-8 of the source and the Windows-1252 bytes that
// the status page carries.
class CCodePage {
public:
    // Characters that Windows-1252 cannot show become '?'; malformed UTF-8
    // bytes are taken as Windows-1252 bytes already.
    static std::string Utf8ToCp1252(const std::string& utf8);
    static std::string Cp1252ToUtf8(const std::string& cp1252);
};
