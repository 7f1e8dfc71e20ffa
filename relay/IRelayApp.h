#pragma once

#include <cstdint>

class IActiveView;

// What the hub and the connection controller need of the application object:
// its main window, as the one place where news from other threads reaches the
// main thread, and the window's active view.
class IRelayApp {
public:
    virtual ~IRelayApp() = default;
    // Any thread: whether there is a main window that takes deliveries.
    virtual bool HasMainWindow() const = 0;
    // Any thread: hands a tunnel block or a relay event block to the main
    // window and returns once the window has handled it; at once, without
    // delivering, when there is no window or the program is ending. The block
    // needs to stay valid only for the duration of the call.
    virtual void DeliverToMainWindow(const uint8_t* block, int length) = 0;
    // Main thread: the main window's active view, or null.
    virtual IActiveView* GetActiveView() = 0;
};
