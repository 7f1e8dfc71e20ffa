// The call-destination dialog: its fields and limits, its tab order, what it
// remembers in the application object, and the dial it leads to.

#include "CFakeCapiProvider.h"
#include "UiTestSupport.h"

#include "app/CKestrinApp.h"
#include "relay/CMainFrame.h"
#include "relay/CServiceRelay.h"
#include "res/CDialogResource.h"
#include "res/CStringTable.h"
#include "ui/CDlgCallDest.h"
#include "ui/CKestrinView.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTest>

#include <memory>

namespace {
using D = CDialogResource;

void Click(CDlgCallDest& dialog, int id)
{
    qobject_cast<QPushButton*>(dialog.Control(id))->click();
}

struct Seen {
    QString number;
    QString ownNumber;
    int focus = 0;
};

// Runs the dialog modally; `act` works it while it is open and must close it
// (so it records what it sees and asserts nothing itself).
int RunDialog(CDlgCallDest& dialog, const std::function<void(CDlgCallDest&)>& act)
{
    OnNextModal([&dialog, act](QWidget*) { act(dialog); });
    return dialog.exec();
}
}

class DialogTest : public QObject {
    Q_OBJECT
private:
    CFakeCapiProvider m_capi;
    std::unique_ptr<CKestrinApp> m_pApp;

    CKestrinView& View() { return *m_pApp->GetMainWnd()->GetActiveView(); }

private slots:
    void init()
    {
        UsePrivateProfile();
        QSettings(CKestrinApp::ORGANIZATION, CKestrinApp::APPLICATION).setValue("DialParms/OwnMSN", "030");
        m_capi = CFakeCapiProvider();
        m_pApp = std::make_unique<CKestrinApp>(m_capi);
        QVERIFY(m_pApp->InitInstance({"kestrin"}));
    }
    void cleanup() { m_pApp.reset(); }

    void remembersTheValuesOfTheLastOk()
    {
        auto open = [&](const std::function<void(CDlgCallDest&)>& act, Seen& seen) {
            CDlgCallDest dialog(*m_pApp, &View());
            return RunDialog(dialog, [&](CDlgCallDest& d) {
                seen.number = d.Edit(D::IDC_NUMBER)->text();
                seen.ownNumber = d.Edit(D::IDC_OWN_NUMBER)->text();
                seen.focus = d.focusWidget() ? d.focusWidget()->objectName().toInt() : 0;
                act(d);
            });
        };
        Seen first, second, third;
        // First opening: no number yet, the own number from the profile, focus on the number.
        QCOMPARE(open([](CDlgCallDest& d) {
                     d.Edit(D::IDC_NUMBER)->setText("0123");
                     d.Edit(D::IDC_OWN_NUMBER)->setText("456");
                     Click(d, D::IDOK);
                 }, first),
                 int(QDialog::Accepted));
        QCOMPARE(first.number, QString());
        QCOMPARE(first.ownNumber, QString("030"));
        QCOMPARE(first.focus, D::IDC_NUMBER);
        QCOMPARE(m_pApp->m_strLastNumber, std::string("0123"));
        QCOMPARE(m_pApp->m_strOwnMSN, std::string("456"));

        // A cancelled change is forgotten.
        QCOMPARE(open([](CDlgCallDest& d) {
                     d.Edit(D::IDC_NUMBER)->setText("999");
                     d.Edit(D::IDC_OWN_NUMBER)->setText("888");
                     Click(d, D::IDCANCEL);
                 }, second),
                 int(QDialog::Rejected));
        QCOMPARE(second.number, QString("0123"));
        QCOMPARE(second.ownNumber, QString("456"));
        QCOMPARE(m_pApp->m_strLastNumber, std::string("0123"));

        // Both fields empty are accepted and stored as such.
        QCOMPARE(open([](CDlgCallDest& d) {
                     d.Edit(D::IDC_NUMBER)->clear();
                     d.Edit(D::IDC_OWN_NUMBER)->clear();
                     QTest::keyClick(d.Edit(D::IDC_NUMBER), Qt::Key_Return);
                 }, third),
                 int(QDialog::Accepted));
        QCOMPARE(third.number, QString("0123"));
        QCOMPARE(m_pApp->m_strLastNumber, std::string());
        QCOMPARE(m_pApp->m_strOwnMSN, std::string());
    }

    void numberFieldTakesNoMoreThan24()
    {
        CDlgCallDest dialog(*m_pApp, &View());
        QString typed, pasted;
        int ownLength = 0;
        RunDialog(dialog, [&](CDlgCallDest& d) {
            QLineEdit* number = d.Edit(D::IDC_NUMBER);
            QTest::keyClicks(number, QString(30, '1'));
            typed = number->text();
            number->clear();
            QApplication::clipboard()->setText(QString(30, '2'));
            number->paste();
            pasted = number->text();
            // The own-number field limits nothing while typing.
            d.Edit(D::IDC_OWN_NUMBER)->clear();
            QTest::keyClicks(d.Edit(D::IDC_OWN_NUMBER), QString(30, '3'));
            ownLength = int(d.Edit(D::IDC_OWN_NUMBER)->text().size());
            Click(d, D::IDCANCEL);
        });
        QCOMPARE(ownLength, 30);
        QCOMPARE(typed, QString(24, '1'));
        QCOMPARE(pasted, QString(24, '2'));
    }

    void tooLongOwnNumberIsRefusedOnOk()
    {
        const QString tooLong(25, '5');
        QString warning;
        bool stillOpen = false;
        int focus = 0;
        QString selected;
        m_pApp->m_strLastNumber = "11";
        OnNextModal([&](QWidget* modal) {
            auto* d = qobject_cast<CDlgCallDest*>(modal);
            if (!d) {
                modal->close();
                return;
            }
            d->Edit(D::IDC_NUMBER)->setText("0815");
            d->Edit(D::IDC_OWN_NUMBER)->setText(tooLong);
            OnNextModal([&](QWidget* box) {
                auto* message = qobject_cast<QMessageBox*>(box);
                warning = message ? message->text() : QString();
                box->close();
            });
            Click(*d, D::IDOK);
            stillOpen = d->isVisible();
            focus = d->focusWidget() ? d->focusWidget()->objectName().toInt() : 0;
            selected = d->Edit(D::IDC_OWN_NUMBER)->selectedText();
            Click(*d, D::IDCANCEL);
        });
        // Through the command, so that a dial would show.
        m_pApp->GetMainWnd()->Action(CStringTable::ID_CALL_CONNECT)->trigger();
        QCOMPARE(warning, QString("Enter no more than 24 characters."));
        QVERIFY(stillOpen);
        QCOMPARE(focus, D::IDC_OWN_NUMBER);
        QCOMPARE(selected, tooLong);
        QCOMPARE(m_pApp->m_strLastNumber, std::string("11"));
        QCOMPARE(m_pApp->m_strOwnMSN, std::string("030"));
        QVERIFY(!m_capi.m_pLast);
    }

    void tabGoesNumberOkCancelOwnNumber()
    {
        CDlgCallDest dialog(*m_pApp, &View());
        std::vector<int> order;
        RunDialog(dialog, [&](CDlgCallDest& d) {
            for (int i = 0; i < 5; ++i) {
                QWidget* focus = d.focusWidget();
                order.push_back(focus ? focus->objectName().toInt() : 0);
                QTest::keyClick(focus ? focus : &d, Qt::Key_Tab);
            }
            Click(d, D::IDCANCEL);
        });
        const std::vector<int> expected = {D::IDC_NUMBER, D::IDOK, D::IDCANCEL, D::IDC_OWN_NUMBER, D::IDC_NUMBER};
        QCOMPARE(order, expected);
    }

    void okDialsUnlessTheTunnelIsUp()
    {
        auto connectWith = [&](const QString& number, const QString& own) {
            OnNextModal([number, own](QWidget* modal) {
                auto* d = qobject_cast<CDlgCallDest*>(modal);
                if (!d) {
                    modal->close();
                    return;
                }
                d->Edit(D::IDC_NUMBER)->setText(number);
                d->Edit(D::IDC_OWN_NUMBER)->setText(own);
                Click(*d, D::IDOK);
            });
            View().OnConnect();
        };
        connectWith("0301", "77");
        QVERIFY(m_capi.m_pLast);
        auto calls = m_capi.m_pLast->Connects();
        QCOMPARE(calls.size(), size_t(1));
        QCOMPARE(calls[0].number.value_or("<null>"), std::string("0301"));
        QCOMPARE(calls[0].ownNumber.value_or("<null>"), std::string("77"));

        // While the tunnel is up, a dial changes neither the relay nor its call.
        m_pApp->m_pServiceRelay->m_nMode = CServiceRelay::MODE_TUNNEL;
        connectWith("0999", "");
        QCOMPARE(m_capi.m_pLast->Connects().size(), size_t(1));
        QCOMPARE(m_pApp->m_pServiceRelay->m_strNumber, std::string("0301"));
        QCOMPARE(m_pApp->m_strLastNumber, std::string("0999"));
    }
};

int main(int argc, char** argv)
{
    return RunGuiTest(argc, argv, [] { return new DialogTest; });
}

#include "DialogTest.moc"
