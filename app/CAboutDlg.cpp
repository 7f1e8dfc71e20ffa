#include "app/CAboutDlg.h"

#include "res/CAppIcon.h"
#include "res/CDialogResource.h"
#include "ui/CDialogUnits.h"

#include <QLabel>
#include <QPixmap>
#include <QPushButton>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    const CDialogResource::Dialog& tpl = CDialogResource::AboutBox();
    setWindowTitle(QString::fromUtf8(tpl.caption));
    const CDialogUnits units(tpl);
    setFont(units.Font());
    setFixedSize(units.ToPixels(QRect(0, 0, tpl.cx, tpl.cy)).size());
    for (const CDialogResource::Control& c : tpl.controls) {
        const QRect r = units.ToPixels(QRect(c.x, c.y, c.cx, c.cy));
        // The widgets are children of the dialog, which owns and deletes them.
        if (c.kind == CDialogResource::KIND_ICON) {
            auto* icon = new QLabel(this);
            icon->setPixmap(QPixmap(CAppIcon::Xpm()));
            icon->setGeometry(QRect(r.topLeft(), QSize(32, 32)));
        } else if (c.kind == CDialogResource::KIND_LABEL) {
            auto* label = new QLabel(QString::fromUtf8(c.text), this);
            label->setTextFormat(Qt::PlainText);
            label->setGeometry(r);
        } else {
            auto* button = new QPushButton(QString::fromUtf8(c.text), this);
            button->setGeometry(r);
            button->setDefault(c.kind == CDialogResource::KIND_DEFAULT_BUTTON);
            connect(button, &QPushButton::clicked, this, &QDialog::accept);
        }
    }
}
