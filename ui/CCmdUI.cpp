#include "ui/CCmdUI.h"

#include <QLabel>

void CCmdUI::Enable(bool on)
{
    if (m_pane.isEnabled() != on)
        m_pane.setEnabled(on);
}

void CCmdUI::SetText(const std::string& text)
{
    const QString value = QString::fromStdString(text);
    if (m_pane.text() != value)
        m_pane.setText(value);
}
