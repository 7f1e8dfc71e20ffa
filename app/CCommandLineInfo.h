#pragma once

#include <string>
#include <vector>

// The framework's part of the command line: it splits the arguments, marks
// options, and keeps the standard shell command. Qt's own options (-platform,
// -style and the like) are taken out of the argument list by QApplication
// before this class sees it, so they stay Qt's.
class CCommandLineInfo {
public:
    // What start-up is to do with the document.
    enum ShellCommand { FileNew, FileOpen, FileNothing };

    CCommandLineInfo() = default;
    virtual ~CCommandLineInfo() = default;
    CCommandLineInfo(const CCommandLineInfo&) = delete;
    CCommandLineInfo& operator=(const CCommandLineInfo&) = delete;

    // Called once per argument, in order. `param` comes without the leading
    // '-' or '/' when `flag` is true.
    virtual void ParseParam(const std::string& param, bool flag, bool last);
    // Calls ParseParam for each argument (the program name not included).
    void ParseArguments(const std::vector<std::string>& arguments);

    ShellCommand m_nShellCommand = FileNew;    // the shell command for start-up
    std::string m_strFileName;                 // the document named on the command line, if any
    std::vector<std::string> m_unknownOptions; // options that nobody knows; ignored
};
