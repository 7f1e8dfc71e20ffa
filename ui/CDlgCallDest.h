#pragma once

#include <QDialog>

#include <map>
#include <string>

class CKestrinApp;
class QLineEdit;

// The modal dialog "Verbinde mit ...": the number to dial and the own number,
// both remembered in the application object after OK. Main thread only.
class CDlgCallDest : public QDialog {
    Q_OBJECT
public:
    // Most characters either field takes.
    static constexpr int MAX_CHARS = 24;
    // Direction of the data exchange.
    enum Exchange { EXCHANGE_TO_FIELDS, EXCHANGE_FROM_FIELDS };

    CDlgCallDest(CKestrinApp& app, QWidget* parent);
    ~CDlgCallDest() override;

    // Fields 1000 and 1002 with the two strings; from the fields it checks the
    // lengths and returns false after the warning when one is too long.
    bool DoDataExchange(Exchange direction);
    // Opening: fills the fields, focus on the number.
    void OnInitDialog();
    // OK: takes the values back, stores them in the application, closes.
    void OnOK();

    void setVisible(bool visible) override;

    // The control with a template id (1000, 1001, 1002, 1003, 1, 2), or null.
    QWidget* Control(int id) const;
    QLineEdit* Edit(int id) const;

    std::string m_strNumber;     // the number to dial; field 1000
    std::string m_strOwnNumber;  // the own number; field 1002

private:
    bool TakeBack(int id, std::string& value);

    CKestrinApp& m_app;                 // where the values are remembered; not owned
    std::map<int, QWidget*> m_controls; // by template id; children of the dialog, which deletes them
    bool m_bInitialized = false;        // OnInitDialog has run for this dialog
};
