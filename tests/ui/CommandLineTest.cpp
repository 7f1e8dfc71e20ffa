// The program's own command-line options, argument by argument.

#include "app/CKestrinCommaldLineInfo.h"

#include <QCoreApplication>
#include <QTest>

#include <string>
#include <vector>

Q_DECLARE_METATYPE(std::vector<std::string>)

class CommandLineTest : public QObject {
    Q_OBJECT
private slots:
    void parse_data()
    {
        using Args = std::vector<std::string>;
        QTest::addColumn<Args>("args");
        QTest::addColumn<QString>("number");
        QTest::addColumn<bool>("help");
        QTest::addColumn<QStringList>("unknown");
        QTest::newRow("-d 123") << Args{"-d", "123"} << "123" << false << QStringList();
        QTest::newRow("-d 12 3 joins") << Args{"-d", "12", "3"} << "123" << false << QStringList();
        QTest::newRow("-d123 ignores the rest") << Args{"-d123"} << "" << false << QStringList();
        QTest::newRow("/D 123") << Args{"/D", "123"} << "123" << false << QStringList();
        QTest::newRow("unknown option keeps dialling") << Args{"-d", "123", "-x", "456"} << "123456" << false
                                                       << QStringList{"x"};
        QTest::newRow("help stops the number") << Args{"-d", "123", "-?", "456"} << "123" << true << QStringList();
        QTest::newRow("-d alone") << Args{"-d"} << "" << false << QStringList();
        QTest::newRow("-help") << Args{"-help"} << "" << true << QStringList();
        QTest::newRow("/H") << Args{"/H"} << "" << true << QStringList();
        QTest::newRow("plain before -d") << Args{"555", "-d", "1"} << "1" << false << QStringList();
        QTest::newRow("plain only") << Args{"555"} << "" << false << QStringList();
        QTest::newRow("second -d starts again") << Args{"-d", "1", "-d", "2"} << "2" << false << QStringList();
        QTest::newRow("lone dash") << Args{"-", "9"} << "" << false << QStringList{""};
        QTest::newRow("digits kept as typed") << Args{"-d", "+49 (30) 1#"} << "+49 (30) 1#" << false << QStringList();
        QTest::newRow("nothing") << Args{} << "" << false << QStringList();
    }
    void parse()
    {
        QFETCH(std::vector<std::string>, args);
        QFETCH(QString, number);
        QFETCH(bool, help);
        QFETCH(QStringList, unknown);
        CKestrinCommaldLineInfo info;
        info.ParseArguments(args);
        QCOMPARE(QString::fromStdString(info.m_strNumber), number);
        QCOMPARE(info.m_bHelp, help);
        QStringList seen;
        for (const std::string& option : info.m_unknownOptions)
            seen << QString::fromStdString(option);
        QCOMPARE(seen, unknown);
        // Plain arguments never reach the framework: nothing is opened.
        QCOMPARE(info.m_nShellCommand, CCommandLineInfo::FileNew);
    }

    void lastOptionFollowsTheOwnOptions()
    {
        CKestrinCommaldLineInfo info;
        QCOMPARE(info.m_nLastOption, int32_t(CKestrinCommaldLineInfo::OPTION_NONE));
        info.ParseParam("d", true, false);
        QCOMPARE(info.m_nLastOption, int32_t(CKestrinCommaldLineInfo::OPTION_DIAL));
        info.ParseParam("q", true, false);
        QCOMPARE(info.m_nLastOption, int32_t(CKestrinCommaldLineInfo::OPTION_DIAL));
        info.ParseParam("?", true, true);
        QCOMPARE(info.m_nLastOption, int32_t(CKestrinCommaldLineInfo::OPTION_HELP));
    }
};

QTEST_APPLESS_MAIN(CommandLineTest)

#include "CommandLineTest.moc"
