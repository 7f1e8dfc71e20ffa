#pragma once

#include <string>

// What the hub and the main window need of the browser view.
class IActiveView {
public:
    virtual ~IActiveView() = default;
    // Main thread: points the browser at the URL (a reload when it is the last one).
    virtual void NavigateTo(const std::string& url) = 0;
    // Main thread: stops the current navigation.
    virtual void StopNavigation() = 0;
};
