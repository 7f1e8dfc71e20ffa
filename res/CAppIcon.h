#pragma once

// The application icon, as XPM image data that Qt reads without a plug-in.
class CAppIcon {
public:
    static const char* const* Xpm();
};
