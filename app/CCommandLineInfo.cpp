#include "app/CCommandLineInfo.h"

void CCommandLineInfo::ParseParam(const std::string& param, bool flag, bool)
{
    if (flag) {
        // Qt has already consumed its own options; what reaches here is unknown.
        m_unknownOptions.push_back(param);
        return;
    }
    if (m_strFileName.empty()) {
        m_strFileName = param;
        m_nShellCommand = FileOpen;
    }
}

void CCommandLineInfo::ParseArguments(const std::vector<std::string>& arguments)
{
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        const bool flag = !arg.empty() && (arg[0] == '-' || arg[0] == '/');
        ParseParam(flag ? arg.substr(1) : arg, flag, i + 1 == arguments.size());
    }
}
