#pragma once

#include <functional>
#include <string>

// Runs the Qt event loop until `done` holds or `timeoutMs` has passed; true when it holds.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 10000);
// Runs the event loop for a while, for checks that something does not happen.
void Spin(int ms);
