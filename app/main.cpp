#include "app/CKestrinApp.h"
#include "capi/CCapiProvider.h"
#include "platform/CTerminationSignal.h"
#include "relay/CMainFrame.h"

#include <QApplication>

#include <csignal>

int main(int argc, char** argv)
{
    // A browser that goes away mid-answer must not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    CKestrinApp::PrepareProcess();
    QApplication qtApp(argc, argv);
    // The application object ends the loop itself once the main window has closed.
    QApplication::setQuitOnLastWindowClosed(false);
    CCapiProvider capi;
    int result = 0;
    {
        CKestrinApp app(capi);
        if (!app.InitInstance(QCoreApplication::arguments()))
            return 1;
        // Asked to end from outside: close the window as its close button does.
        CTerminationSignal termination([&app] {
            if (CMainFrame* frame = app.GetMainWnd())
                frame->close();
            else
                QCoreApplication::quit();
        });
        result = QApplication::exec();
    }
    return result;
}
