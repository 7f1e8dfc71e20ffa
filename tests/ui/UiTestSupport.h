#pragma once

#include <QString>

#include <functional>
#include <string>

class QObject;
class QWidget;
class CKestrinView;

// Runs the event loop until `done` holds or `timeoutMs` has passed; true when it holds.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 15000);
// Once the next modal widget shows, calls `handler` with it (which must close it).
void OnNextModal(const std::function<void(QWidget*)> handler);
// Waits until the view has finished its current load and shows a page whose text contains `text`.
bool WaitForPageText(CKestrinView& view, const QString& text, int timeoutMs = 20000);
// Navigates the view and waits until that load has finished.
bool NavigateAndWait(CKestrinView& view, const std::string& url, int timeoutMs = 20000);
// The view's page text, as the engine renders it.
QString PageText(CKestrinView& view);
// Runs one QTest object in a GUI application prepared as the program prepares itself.
int RunGuiTest(int argc, char** argv, const std::function<QObject*()>& makeTest);
// Points the profile of this process at a fresh folder; returns the folder.
QString UsePrivateProfile();
// A blocking IPv4 client socket connected to 127.0.0.1:port, or -1.
int ConnectLoopback(unsigned port);
