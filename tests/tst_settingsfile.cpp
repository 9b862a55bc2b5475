#include "settings.h"
#include "testenvironment.h"

#include <QtTest>

// The settings file's keys as a run reads them, whatever the window then makes of them.
class SettingsFileTest : public QObject {
    Q_OBJECT

private slots:
    void read_data();
    void read();
};

void SettingsFileTest::read_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("usable");
    QTest::addColumn<QVariant>("value"); // the file's, or the key's fallback
    QTest::newRow("no file's value: the fallback")
        << QByteArray() << "networkport" << false << QVariant("6001");
    QTest::newRow("a number") << QByteArray("bandrate=3") << "bandrate" << true << QVariant(3);
    QTest::newRow("a number that is none reads 0")
        << QByteArray("bandrate=abc") << "bandrate" << true << QVariant(0);
    QTest::newRow("a period that is no number reads 0")
        << QByteArray("network3timermsecond=abc") << "network3timermsecond" << true << QVariant(0);
    // Not a name at all: as if there were none.
    QTest::newRow("text of the wrong type counts as absent")
        << QByteArray("portname=@Rect(1 2 3 4)") << "portname" << false << QVariant("COM1");
    QTest::newRow("empty text is text")
        << QByteArray("portname=") << "portname" << true << QVariant(QString());
    QTest::newRow("a key of no fallback") << QByteArray() << "timestamps" << false << QVariant();
}

void SettingsFileTest::read()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, key);
    QFETCH(bool, usable);
    QFETCH(QVariant, value);
    TestEnvironment env;
    QVERIFY(writeFile(env.settingsPath(), "[Setup_Parameter]\n" + line + "\n"));
    RunSettings settings;
    settings.read(env.settingsPath());
    QCOMPARE(settings.contains(key), usable);
    if (value.userType() == QMetaType::Int)
        QCOMPARE(settings.integer(key), value.toInt());
    else
        QCOMPARE(settings.value(key), value);
}

QTEST_GUILESS_MAIN(SettingsFileTest)
#include "tst_settingsfile.moc"
