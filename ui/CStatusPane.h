#pragma once

#include <QLabel>

// A status-bar pane of a fixed width: the width of its sizing text, whatever
// text it shows later (longer texts are clipped). A window too narrow for all
// panes squeezes them rather than refusing the size.
class CStatusPane : public QLabel {
public:
    CStatusPane(const QString& sizingText, QWidget* parent);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

private:
    int m_nWidth;  // the pane's width in pixels, from its sizing text
};
