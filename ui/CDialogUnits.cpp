#include "ui/CDialogUnits.h"

#include <QFontMetrics>

CDialogUnits::CDialogUnits(const CDialogResource::Dialog& dialog)
    : m_font(QString::fromUtf8(dialog.fontFamily), dialog.pointSize)
{
    // The template's font is a Windows one; fontconfig substitutes a sans serif.
    m_font.setStyleHint(QFont::SansSerif);
    const QFontMetrics metrics(m_font);
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    m_nBaseX = std::max(1, (metrics.horizontalAdvance(alphabet) / 26 + 1) / 2);
    m_nBaseY = std::max(1, metrics.height());
}

QRect CDialogUnits::ToPixels(const QRect& units) const
{
    const int x = units.x() * m_nBaseX / 4;
    const int y = units.y() * m_nBaseY / 8;
    const int right = (units.x() + units.width()) * m_nBaseX / 4;
    const int bottom = (units.y() + units.height()) * m_nBaseY / 8;
    return QRect(x, y, right - x, bottom - y);
}
