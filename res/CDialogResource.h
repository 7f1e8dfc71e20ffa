#pragma once

#include <vector>

// Dialog templates in dialog units: the call-destination dialog (131) and
// the About box (100). Controls are listed in template order, which is also
// their tab order.
class CDialogResource {
public:
    enum Kind { KIND_LABEL, KIND_EDIT, KIND_BUTTON, KIND_DEFAULT_BUTTON, KIND_ICON };
    // Style bits that matter on this platform.
    enum Style { STYLE_NONE = 0, STYLE_TABSTOP = 0x1, STYLE_BORDER = 0x2, STYLE_AUTOHSCROLL = 0x4 };

    struct Control {
        int id;            // control id (1 OK, 2 cancel, -1 static)
        Kind kind;         // what the control is
        const char* text;  // its text, UTF-8
        int x, y, cx, cy;  // position and size in dialog units
        int style;         // Style bits
    };
    struct Dialog {
        int id;                         // template id
        const char* caption;            // title bar text
        const char* fontFamily;         // requested font
        int pointSize;                  // its size
        int cx, cy;                     // client size in dialog units
        std::vector<Control> controls;  // template order
    };

    static constexpr int IDC_STATIC = -1;
    static constexpr int IDOK = 1;
    static constexpr int IDCANCEL = 2;
    static constexpr int IDC_NUMBER = 1000;
    static constexpr int IDC_NUMBER_LABEL = 1001;
    static constexpr int IDC_OWN_NUMBER = 1002;
    static constexpr int IDC_OWN_NUMBER_LABEL = 1003;

    static const Dialog& CallDestination();
    static const Dialog& AboutBox();
};
