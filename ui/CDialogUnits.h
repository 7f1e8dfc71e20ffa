#pragma once

#include "res/CDialogResource.h"

#include <QFont>
#include <QRect>

// Turns a dialog template's dialog units into pixels: a horizontal unit is a
// quarter of the font's average character width, a vertical unit an eighth
// of its height.
class CDialogUnits {
public:
    explicit CDialogUnits(const CDialogResource::Dialog& dialog);

    QFont Font() const { return m_font; }
    QRect ToPixels(const QRect& units) const;

private:
    QFont m_font;      // the template's font, or the closest the system has
    int m_nBaseX = 0;  // average character width in pixels
    int m_nBaseY = 0;  // character height in pixels
};
