#include "ui/CLockKeyState.h"

#include <QGuiApplication>

#if KESTRIN_HAVE_X11
#include <X11/XKBlib.h>
#endif

namespace {
#if KESTRIN_HAVE_X11
Display* X11Display()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->display() : nullptr;
}
#endif
}

bool CLockKeyState::IsKnown()
{
#if KESTRIN_HAVE_X11
    return X11Display() != nullptr;
#else
    return false;
#endif
}

bool CLockKeyState::IsOn(Key key)
{
#if KESTRIN_HAVE_X11
    Display* display = X11Display();
    if (!display)
        return false;
    const char* name = key == KEY_CAPS ? "Caps Lock" : key == KEY_NUM ? "Num Lock" : "Scroll Lock";
    const Atom atom = XInternAtom(display, name, True);
    if (atom == None)
        return false;
    Bool on = False;
    if (!XkbGetNamedIndicator(display, atom, nullptr, &on, nullptr, nullptr))
        return false;
    return on == True;
#else
    (void)key;
    return false;
#endif
}
