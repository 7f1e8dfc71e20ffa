#include "app/CKestrinCommaldLineInfo.h"

void CKestrinCommaldLineInfo::ParseParam(const std::string& param, bool flag, bool last)
{
    if (!flag) {
        // Plain arguments never reach the framework: a file name opens nothing.
        if (m_nLastOption == OPTION_DIAL)
            m_strNumber += param;
        return;
    }
    const char first = param.empty() ? '\0' : param[0];
    if (first == '?' || first == 'h' || first == 'H') {
        m_bHelp = true;
        m_nLastOption = OPTION_HELP;
    } else if (first == 'd' || first == 'D') {
        // Only the first character counts: the number must be a separate argument.
        m_strNumber.clear();
        m_nLastOption = OPTION_DIAL;
    } else {
        CCommandLineInfo::ParseParam(param, flag, last);
    }
}
