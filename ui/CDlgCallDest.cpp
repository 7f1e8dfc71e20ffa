#include "ui/CDlgCallDest.h"

#include "app/CKestrinApp.h"
#include "res/CDialogResource.h"
#include "res/CStringTable.h"
#include "ui/CDialogUnits.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

CDlgCallDest::CDlgCallDest(CKestrinApp& app, QWidget* parent)
    : QDialog(parent), m_strNumber(app.m_strLastNumber), m_strOwnNumber(app.m_strOwnMSN), m_app(app)
{
    setObjectName("CDlgCallDest");
    const CDialogResource::Dialog& tpl = CDialogResource::CallDestination();
    setWindowTitle(QString::fromUtf8(tpl.caption));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    const CDialogUnits units(tpl);
    setFont(units.Font());
    setFixedSize(units.ToPixels(QRect(0, 0, tpl.cx, tpl.cy)).size());

    QWidget* previous = nullptr;
    for (const CDialogResource::Control& c : tpl.controls) {
        QWidget* widget = nullptr;
        switch (c.kind) {
        case CDialogResource::KIND_LABEL: {
            auto* label = new QLabel(QString::fromUtf8(c.text), this);
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            widget = label;
            break;
        }
        case CDialogResource::KIND_EDIT: {
            auto* edit = new QLineEdit(this);
            edit->setFrame((c.style & CDialogResource::STYLE_BORDER) != 0);
            widget = edit;
            break;
        }
        case CDialogResource::KIND_BUTTON:
        case CDialogResource::KIND_DEFAULT_BUTTON: {
            auto* button = new QPushButton(QString::fromUtf8(c.text), this);
            button->setAutoDefault(false);
            button->setDefault(c.kind == CDialogResource::KIND_DEFAULT_BUTTON);
            if (c.id == CDialogResource::IDOK)
                connect(button, &QPushButton::clicked, this, &CDlgCallDest::OnOK);
            else
                connect(button, &QPushButton::clicked, this, &QDialog::reject);
            widget = button;
            break;
        }
        case CDialogResource::KIND_ICON:
            continue;
        }
        widget->setGeometry(units.ToPixels(QRect(c.x, c.y, c.cx, c.cy)));
        widget->setObjectName(QString::number(c.id));
        if (c.style & CDialogResource::STYLE_TABSTOP) {
            widget->setFocusPolicy(Qt::StrongFocus);
            if (previous)
                setTabOrder(previous, widget);
            previous = widget;
        } else {
            widget->setFocusPolicy(Qt::NoFocus);
        }
        m_controls[c.id] = widget;
    }
}

CDlgCallDest::~CDlgCallDest() = default;

QWidget* CDlgCallDest::Control(int id) const
{
    auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

QLineEdit* CDlgCallDest::Edit(int id) const
{
    return qobject_cast<QLineEdit*>(Control(id));
}

void CDlgCallDest::setVisible(bool visible)
{
    if (visible && !m_bInitialized) {
        m_bInitialized = true;
        OnInitDialog();
    }
    QDialog::setVisible(visible);
}

void CDlgCallDest::OnInitDialog()
{
    DoDataExchange(EXCHANGE_TO_FIELDS);
    if (QLineEdit* number = Edit(CDialogResource::IDC_NUMBER))
        number->setFocus(Qt::OtherFocusReason);
}

bool CDlgCallDest::DoDataExchange(Exchange direction)
{
    QLineEdit* number = Edit(CDialogResource::IDC_NUMBER);
    QLineEdit* own = Edit(CDialogResource::IDC_OWN_NUMBER);
    if (direction == EXCHANGE_TO_FIELDS) {
        // Only the number field limits typing and pasting; the own number is
        // checked when it is taken back.
        number->setMaxLength(MAX_CHARS);
        number->setText(QString::fromStdString(m_strNumber));
        own->setText(QString::fromStdString(m_strOwnNumber));
        return true;
    }
    return TakeBack(CDialogResource::IDC_NUMBER, m_strNumber) && TakeBack(CDialogResource::IDC_OWN_NUMBER, m_strOwnNumber);
}

bool CDlgCallDest::TakeBack(int id, std::string& value)
{
    QLineEdit* edit = Edit(id);
    const QString text = edit->text();
    if (text.size() > MAX_CHARS) {
        const QString message = QString::fromUtf8(CStringTable::Get(CStringTable::AFX_IDP_PARSE_STRING_SIZE)).arg(MAX_CHARS);
        QMessageBox warning(QMessageBox::Warning, QString::fromUtf8(CStringTable::Get(CStringTable::AFX_IDS_APP_TITLE)),
                            message, QMessageBox::Ok, this);
        warning.exec();
        edit->setFocus(Qt::OtherFocusReason);
        edit->selectAll();
        return false;
    }
    value = text.toStdString();
    return true;
}

void CDlgCallDest::OnOK()
{
    if (!DoDataExchange(EXCHANGE_FROM_FIELDS))
        return;
    m_app.m_strLastNumber = m_strNumber;
    m_app.m_strOwnMSN = m_strOwnNumber;
    accept();
}
