#pragma once

#include "app/CCommandLineInfo.h"

#include <cstdint>
#include <string>

// The program's own options: "-d" followed by the number to dial and "-?"
// (or anything starting with h) for the help text.
class CKestrinCommaldLineInfo : public CCommandLineInfo {
public:
    // What the last option of the program's own was.
    enum LastOption { OPTION_NONE = 0, OPTION_DIAL = 1, OPTION_HELP = 2 };

    CKestrinCommaldLineInfo() = default;

    void ParseParam(const std::string& param, bool flag, bool last) override;

    std::string m_strNumber;        // the number to dial; every plain argument after -d, joined
    bool m_bHelp = false;           // help was asked for
    int32_t m_nLastOption = OPTION_NONE;  // LastOption of the last own option seen
};
