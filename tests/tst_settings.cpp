#include "mainwindow.h"
#include "modaldialoghelper.h"
#include "testenvironment.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSerialPortInfo>
#include <QSettings>
#include <QSpinBox>
#include <QtTest>

namespace {

void writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(contents);
}

// The state that a first run shows, whatever the machine's serial ports.
void verifyDefaults(const MainWindow &window)
{
    const auto *ports = window.findChild<QComboBox *>(QStringLiteral("CB_SerialPort"));
    const int com1 = ports->findText(QStringLiteral("COM1"));
    QCOMPARE(ports->currentIndex(), com1 >= 0 ? com1 : (ports->count() ? 0 : -1));
    QCOMPARE(window.findChild<QComboBox *>(QStringLiteral("CB_BandRate"))->currentIndex(), 0);
    for (const char *box : { "SB_SerialTimerSecond", "SB_Network1TimerSecond",
                             "SB_Network2TimerSecond", "SB_Network3TimerSecond" })
        QCOMPARE(window.findChild<QSpinBox *>(QLatin1String(box))->value(), 1000);
    QCOMPARE(window.findChild<QLineEdit *>(QStringLiteral("LE_IPAddress1"))->text(),
             QStringLiteral("192.168.1.100"));
    QCOMPARE(window.findChild<QLineEdit *>(QStringLiteral("LE_Port1"))->text(),
             QStringLiteral("6001"));
}

QVariant widgetValue(const MainWindow &window, const QString &name)
{
    const QObject *widget = window.findChild<QObject *>(name);
    if (const auto *box = qobject_cast<const QComboBox *>(widget))
        return box->currentIndex();
    if (const auto *box = qobject_cast<const QSpinBox *>(widget))
        return box->value();
    if (const auto *edit = qobject_cast<const QLineEdit *>(widget))
        return edit->text();
    return {};
}

} // namespace

class SettingsTest : public QObject {
    Q_OBJECT

private slots:
    void firstRunDefaults();
    void storedValueApplied_data();
    void storedValueApplied();
    void garbageFileGivesDefaults();
    void valuesWrittenAtClose();
    void fileFollowsWorkingDirectory();
};

void SettingsTest::firstRunDefaults()
{
    TestEnvironment env;
    MainWindow window;
    verifyDefaults(window);
    QVERIFY(!QFile::exists(env.settingsPath())); // nothing is written before the close
}

void SettingsTest::storedValueApplied_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QVariant>("expected");
    const int firstPort = QSerialPortInfo::availablePorts().isEmpty() ? -1 : 0;
    QTest::newRow("unknown port name leaves the selection")
        << QByteArray("portname=NoSuchPort") << "CB_SerialPort" << QVariant(firstPort);
    QTest::newRow("baud rate index") << QByteArray("bandrate=3") << "CB_BandRate" << QVariant(3);
    QTest::newRow("baud rate not a number")
        << QByteArray("bandrate=abc") << "CB_BandRate" << QVariant(0);
    QTest::newRow("baud rate beyond the list")
        << QByteArray("bandrate=99") << "CB_BandRate" << QVariant(-1);
    QTest::newRow("serial period")
        << QByteArray("serialtimermsecond=2500") << "SB_SerialTimerSecond" << QVariant(2500);
    QTest::newRow("period below range clamps")
        << QByteArray("network1timermsecond=50") << "SB_Network1TimerSecond" << QVariant(100);
    QTest::newRow("period above range clamps")
        << QByteArray("network2timermsecond=20000") << "SB_Network2TimerSecond" << QVariant(10000);
    QTest::newRow("period not a number clamps from 0")
        << QByteArray("network3timermsecond=abc") << "SB_Network3TimerSecond" << QVariant(100);
    QTest::newRow("address") << QByteArray("networkipaddress=10.1.2.3") << "LE_IPAddress1"
                             << QVariant(QStringLiteral("10.1.2.3"));
    QTest::newRow("port kept as text")
        << QByteArray("networkport=70000") << "LE_Port1" << QVariant(QStringLiteral("70000"));
}

void SettingsTest::storedValueApplied()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, widget);
    QFETCH(QVariant, expected);
    TestEnvironment env;
    writeFile(env.settingsPath(), "[Setup_Parameter]\n" + line + "\n");
    MainWindow window;
    QCOMPARE(widgetValue(window, widget), expected);
}

void SettingsTest::garbageFileGivesDefaults()
{
    TestEnvironment env;
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.append(char((i * 7919) >> 3));
    writeFile(env.settingsPath(), garbage);
    MainWindow window;
    verifyDefaults(window);
}

void SettingsTest::valuesWrittenAtClose()
{
    TestEnvironment env;
    ModalDialogHelper helper;
    helper.setMessageBoxAnswer(QMessageBox::No);
    {
        MainWindow window;
        // Without a serial port the file must still get both port keys.
        window.findChild<QComboBox *>(QStringLiteral("CB_SerialPort"))->clear();
        window.findChild<QComboBox *>(QStringLiteral("CB_BandRate"))->setCurrentIndex(4);
        window.findChild<QSpinBox *>(QStringLiteral("SB_SerialTimerSecond"))->setValue(200);
        window.findChild<QLineEdit *>(QStringLiteral("LE_IPAddress1"))->setText("10.9.8.7");
        window.findChild<QLineEdit *>(QStringLiteral("LE_Port1"))->setText(" 7001");
        window.findChild<QSpinBox *>(QStringLiteral("SB_Network1TimerSecond"))->setValue(300);
        window.findChild<QSpinBox *>(QStringLiteral("SB_Network2TimerSecond"))->setValue(400);
        window.findChild<QSpinBox *>(QStringLiteral("SB_Network3TimerSecond"))->setValue(10000);
        QVERIFY(window.close());
    }
    QCOMPARE(helper.count(), 1);

    QSettings settings(env.settingsPath(), QSettings::IniFormat);
    QCOMPARE(settings.childGroups(), QStringList { "Setup_Parameter" });
    settings.beginGroup(QStringLiteral("Setup_Parameter"));
    QStringList keys = settings.childKeys();
    keys.sort();
    QCOMPARE(keys,
             (QStringList { "bandrate", "network1timermsecond", "network2timermsecond",
                            "network3timermsecond", "networkipaddress", "networkport", "port",
                            "portname", "serialtimermsecond" }));
    QCOMPARE(settings.value("port").toInt(), -1);
    QCOMPARE(settings.value("portname").toString(), QString());
    QCOMPARE(settings.value("bandrate").toInt(), 4);
    QCOMPARE(settings.value("serialtimermsecond").toInt(), 200);
    QCOMPARE(settings.value("networkipaddress").toString(), QStringLiteral("10.9.8.7"));
    QCOMPARE(settings.value("networkport").toString(), QStringLiteral(" 7001"));
    QCOMPARE(settings.value("network1timermsecond").toInt(), 300);
    QCOMPARE(settings.value("network2timermsecond").toInt(), 400);
    QCOMPARE(settings.value("network3timermsecond").toInt(), 10000);
}

void SettingsTest::fileFollowsWorkingDirectory()
{
    TestEnvironment env;
    writeFile(env.settingsPath(), "[Setup_Parameter]\nbandrate=2\n");
    const QString elsewhere = env.homePath() + QStringLiteral("/elsewhere");
    QVERIFY(QDir().mkpath(elsewhere));
    QVERIFY(QDir::setCurrent(elsewhere));

    ModalDialogHelper helper;
    helper.setMessageBoxAnswer(QMessageBox::No);
    {
        MainWindow window;
        verifyDefaults(window);
        QVERIFY(QDir::setCurrent(env.workPath())); // the path is fixed at start-up
        window.close();
    }
    QVERIFY(QFile::exists(elsewhere + QStringLiteral("/demosettings.ini")));
    QCOMPARE(QSettings(env.settingsPath(), QSettings::IniFormat)
                 .value(QStringLiteral("Setup_Parameter/bandrate"))
                 .toInt(),
             2);
}

QTEST_MAIN(SettingsTest)
#include "tst_settings.moc"
