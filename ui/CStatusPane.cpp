#include "ui/CStatusPane.h"

CStatusPane::CStatusPane(const QString& sizingText, QWidget* parent) : QLabel(sizingText, parent)
{
    setTextFormat(Qt::PlainText);
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_nWidth = fontMetrics().horizontalAdvance(sizingText) + 2 * frameWidth() + 6;
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
}

QSize CStatusPane::sizeHint() const
{
    return QSize(m_nWidth, QLabel::sizeHint().height());
}

QSize CStatusPane::minimumSizeHint() const
{
    return QSize(0, QLabel::minimumSizeHint().height());
}
