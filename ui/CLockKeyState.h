#pragma once

// Asks the window system whether the caps, num and scroll lock indicators
// are lit. On X11 the keyboard extension tells; elsewhere nothing is known
// and all three read as off.
class CLockKeyState {
public:
    enum Key { KEY_CAPS, KEY_NUM, KEY_SCROLL };

    // Main thread; one round trip to the X server when it is there.
    static bool IsOn(Key key);
    // Whether this platform can tell at all.
    static bool IsKnown();
};
