#include "UiTestSupport.h"

#include "app/CKestrinApp.h"
#include "ui/CKestrinView.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <memory>

bool WaitUntil(const std::function<bool()>& done, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    // A real loop that may block, as the program's own does: idle-time work
    // (which hangs on the loop's going to sleep) runs here too.
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void OnNextModal(const std::function<void(QWidget*)> handler)
{
    auto* timer = new QTimer(qApp);
    auto started = std::chrono::steady_clock::now();
    QObject::connect(timer, &QTimer::timeout, [timer, handler, started] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            handler(modal);
        } else if (std::chrono::steady_clock::now() - started > std::chrono::seconds(20)) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(20);
}

QString PageText(CKestrinView& view)
{
    auto text = std::make_shared<QString>();
    auto got = std::make_shared<bool>(false);
    view.page()->toPlainText([text, got](const QString& t) {
        *text = t;
        *got = true;
    });
    WaitUntil([&] { return *got; }, 5000);
    return *text;
}

bool NavigateAndWait(CKestrinView& view, const std::string& url, int timeoutMs)
{
    QSignalSpy finished(view.page(), &QWebEnginePage::loadFinished);
    view.NavigateTo(url);
    return WaitUntil([&] { return finished.count() > 0 && !view.IsBusy(); }, timeoutMs);
}

bool WaitForPageText(CKestrinView& view, const QString& text, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (WaitUntil([&] { return !view.IsBusy(); }, 2000) && PageText(view).contains(text))
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        WaitUntil([] { return false; }, 100);
    }
}

QString UsePrivateProfile()
{
    // One folder per call, kept to the end of the run; the process's HOME is private too.
    static std::vector<std::unique_ptr<QTemporaryDir>> dirs;
    dirs.push_back(std::make_unique<QTemporaryDir>());
    const QString path = dirs.back()->path();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, path);
    return path;
}

int ConnectLoopback(unsigned port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int RunGuiTest(int argc, char** argv, const std::function<QObject*()>& makeTest)
{
    std::signal(SIGPIPE, SIG_IGN);
    CKestrinApp::PrepareProcess();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    std::unique_ptr<QObject> test(makeTest());
    return QTest::qExec(test.get(), argc, argv);
}
