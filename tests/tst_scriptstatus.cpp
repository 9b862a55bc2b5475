#include "scriptstatus.h"
#include "scriptsuite.h"
#include "session.h"
#include "testenvironment.h"

#include <QLabel>
#include <QStatusBar>
#include <QtTest>

// What the window adds to a script's run: its verdict in a label at the status bar's end, and
// the error that stopped it on the status bar.
class ScriptStatusTest : public QObject {
    Q_OBJECT

private slots:
    void verdict_data();
    void verdict();
};

void ScriptStatusTest::verdict_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QString>("label");
    QTest::addColumn<bool>("error"); // the status bar and the tool tip name it
    QTest::newRow("all passed") << QByteArray("check(true, 'one')\ncheck(true, 'two')\n")
                                << "Script: 2 passed, 0 failed" << false;
    QTest::newRow("a check failed") << QByteArray("check(true, 'one')\ncheck(false, 'two')\n")
                                    << "Script: 1 passed, 1 failed" << false;
    QTest::newRow("stopped on an error")
        << QByteArray("check(true, 'one')\nerror('boom')\n")
        << "Script stopped on an error: 1 passed, 0 failed" << true;
}

void ScriptStatusTest::verdict()
{
    QFETCH(QByteArray, script);
    QFETCH(QString, label);
    QFETCH(bool, error);
    TestEnvironment env;
    Session session;
    const QString path = env.workPath() + QStringLiteral("/test.lua");
    ScriptSuite scripts(
        QList<RunOptions::Script> { { path, script } },
        ScriptRunner::Channels {
            &session.serial(), { &session.network(1), &session.network(2), &session.network(3) } });
    QStatusBar statusBar;
    new ScriptStatus(scripts, &statusBar);
    auto *shown = statusBar.findChild<QLabel *>(QStringLiteral("scriptStatus"));
    QVERIFY(shown);
    scripts.run();
    QTRY_VERIFY(scripts.ended());
    QCOMPARE(shown->text(), label);
    QCOMPARE(shown->toolTip(), scripts.lastError());
    QCOMPARE(!scripts.lastError().isEmpty(), error);
    QCOMPARE(statusBar.currentMessage(),
             error ? QStringLiteral("Script error: ") + scripts.lastError() : QString());
}

QTEST_MAIN(ScriptStatusTest)
#include "tst_scriptstatus.moc"
