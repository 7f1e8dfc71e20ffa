#pragma once

#include <QDialog>

// The About box (dialog 100): the icon, the program's name and version, OK.
class CAboutDlg : public QDialog {
public:
    explicit CAboutDlg(QWidget* parent);
};
