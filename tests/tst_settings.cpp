#include "settingsformat.h"
#include "windowfixture.h"

#include <QDir>
#include <QSerialPortInfo>
#include <QSettings>
#include <QtTest>

namespace {

// The state that a first run shows, whatever the machine's serial ports.
void verifyDefaults(const WindowFixture &fixture)
{
    const auto *ports = fixture.widget<QComboBox>(QStringLiteral("CB_SerialPort"));
    const int com1 = ports->findText(QStringLiteral("COM1"));
    QCOMPARE(ports->currentIndex(), com1 >= 0 ? com1 : (ports->count() ? 0 : -1));
    const QString differences = fixture.differences(WindowFixture::firstRunValues());
    QVERIFY2(differences.isEmpty(), qPrintable(differences));
}

} // namespace

class SettingsTest : public QObject {
    Q_OBJECT

private slots:
    void firstRunDefaults();
    void storedValueApplied_data();
    void storedValueApplied();
    void garbageFileGivesDefaults();
    void textBeyondAsciiFromEitherQt_data();
    void textBeyondAsciiFromEitherQt();
    void valuesWrittenAtClose();
    void keysWrittenBack_data();
    void keysWrittenBack();
    void fileFollowsWorkingDirectory();
    void serialPortsInWindow();
};

void SettingsTest::firstRunDefaults()
{
    WindowFixture fixture;
    verifyDefaults(fixture);
    QVERIFY(!QFile::exists(fixture.env.settingsPath())); // nothing is written before the close
}

void SettingsTest::storedValueApplied_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QVariant>("expected");
    // A saved port that is absent now is listed after the found ones and stays chosen.
    QTest::newRow("absent port listed and selected")
        << QByteArray("portname=NoSuchPort") << "CB_SerialPort"
        << QVariant(QSerialPortInfo::availablePorts().size());
    const int firstPort = QSerialPortInfo::availablePorts().isEmpty() ? -1 : 0;
    QTest::newRow("empty port name leaves the selection")
        << QByteArray("portname=") << "CB_SerialPort" << QVariant(firstPort);
    QTest::newRow("baud rate index") << QByteArray("bandrate=3") << "CB_BandRate" << QVariant(3);
    QTest::newRow("baud rate number beyond the list joins it")
        << QByteArray("bandrate=1\nbaudrate=250000") << "CB_BandRate" << QVariant(5);
    QTest::newRow("baud rate number in the list wins over the index")
        << QByteArray("bandrate=1\nbaudrate=57600") << "CB_BandRate" << QVariant(3);
    QTest::newRow("baud rate number that is none leaves the index")
        << QByteArray("bandrate=2\nbaudrate=-5") << "CB_BandRate" << QVariant(2);
    QTest::newRow("baud rate beyond the list")
        << QByteArray("bandrate=99") << "CB_BandRate" << QVariant(-1);
    QTest::newRow("serial period")
        << QByteArray("serialtimermsecond=2500") << "SB_SerialTimerSecond" << QVariant(2500);
    QTest::newRow("period below range clamps")
        << QByteArray("network1timermsecond=50") << "SB_Network1TimerSecond" << QVariant(100);
    QTest::newRow("period above range clamps")
        << QByteArray("network2timermsecond=20000") << "SB_Network2TimerSecond" << QVariant(10000);
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
    WindowFixture fixture(WindowFixture::Start::Later);
    QVERIFY(writeFile(fixture.env.settingsPath(), "[Setup_Parameter]\n" + line + "\n"));
    fixture.start();
    QCOMPARE(fixture.value(widget), expected);
}

void SettingsTest::garbageFileGivesDefaults()
{
    WindowFixture fixture(WindowFixture::Start::Later);
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.append(char((i * 7919) >> 3));
    QVERIFY(writeFile(fixture.env.settingsPath(), garbage));
    fixture.start();
    verifyDefaults(fixture);
}

void SettingsTest::textBeyondAsciiFromEitherQt_data()
{
    QTest::addColumn<QByteArray>("contents");
    const QByteArray group = "[Setup_Parameter]\n";
    // Qt 5 on its own escapes every character beyond ASCII.
    QTest::newRow("escaped, as Qt 5 writes") << group
            + "portname=/dev/tty\\xdcSB0\n"
              "networkipaddress=Ger\\xe4t-\\x3a9.local\n";
    QTest::newRow("raw UTF-8, as Qt 6 writes") << group
            + "portname=/dev/tty\xc3\x9cSB0\n"
              "networkipaddress=Ger\xc3\xa4t-\xce\xa9.local\n";
    QTest::newRow("both in one file") << group
            + "portname=/dev/tty\\xdcSB0\n"
              "networkipaddress=Ger\xc3\xa4t-\xce\xa9.local\n";
}

// Whichever Qt wrote the file, both texts come back whole, and the file written at the close
// holds them as raw UTF-8, which Qt 5 (told UTF-8) and Qt 6 both read.
void SettingsTest::textBeyondAsciiFromEitherQt()
{
    QFETCH(QByteArray, contents);
    const QString port = QStringLiteral("/dev/tty\u00dcSB0");
    const QString address = QStringLiteral("Ger\u00e4t-\u03a9.local");
    WindowFixture fixture(WindowFixture::Start::Later);
    QVERIFY(writeFile(fixture.env.settingsPath(), contents));
    fixture.start();
    QCOMPARE(fixture.value("LE_IPAddress1"), QVariant(address));
    // No such device exists here, so the port is listed and the file read again.
    fixture.selectSerialPort(port);
    auto *ports = fixture.widget<QComboBox>(QStringLiteral("CB_SerialPort"));
    ports->setCurrentIndex(-1);
    QVERIFY(QMetaObject::invokeMethod(&fixture.window(), "loadSettings"));
    QCOMPARE(ports->currentText(), port);

    fixture.dialogs.setMessageBoxAnswer(QMessageBox::No);
    QVERIFY(fixture.window().close());
    const QByteArray written = fileContents(fixture.env.settingsPath());
    QVERIFY2(written.contains("\nportname=" + port.toUtf8() + '\n'), written.constData());
    QVERIFY2(written.contains("\nnetworkipaddress=" + address.toUtf8() + '\n'),
             written.constData());
    QSettings settings(fixture.env.settingsPath(), QSettings::IniFormat);
    useUtf8Ini(settings);
    QCOMPARE(settings.value(QStringLiteral("Setup_Parameter/portname")).toString(), port);
    QCOMPARE(settings.value(QStringLiteral("Setup_Parameter/networkipaddress")).toString(),
             address);
}

void SettingsTest::valuesWrittenAtClose()
{
    WindowFixture fixture;
    fixture.dialogs.setMessageBoxAnswer(QMessageBox::No);
    // Without a serial port the file must still get both port keys.
    fixture.widget<QComboBox>("CB_SerialPort")->clear();
    fixture.widget<QComboBox>("CB_BandRate")->setCurrentIndex(4);
    fixture.setTarget(" 7001", "10.9.8.7");
    fixture.periodBox(serial)->setValue(200);
    fixture.periodBox(1)->setValue(300);
    fixture.periodBox(2)->setValue(400);
    fixture.periodBox(3)->setValue(10000);
    QVERIFY(fixture.window().close());
    QCOMPARE(fixture.dialogs.count(), 1);

    QSettings settings(fixture.env.settingsPath(), QSettings::IniFormat);
    useUtf8Ini(settings);
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

void SettingsTest::keysWrittenBack_data()
{
    QTest::addColumn<bool>("changedInWindow");
    QTest::newRow("what the command line set goes back as the file had it") << false;
    QTest::newRow("what the person picked during the run is saved") << true;
}

// The keys beyond the form go back as the file had them, whatever this run's command line said;
// so do the form's keys the command line set, unless the person changed them in the window.
void SettingsTest::keysWrittenBack()
{
    QFETCH(bool, changedInWindow);
    const QStringList lines = { "seriallineending=CR",
                                "network1lineending=CRLF",
                                "network2lineending=None",
                                "network3lineending=XY",
                                "timestamps=log",
                                "serialdtr=on",
                                "serialrts=",
                                "baudrate=250000",
                                "bandrate=2",
                                "portname=/dev/saved-tty",
                                "port=7",
                                "networkipaddress=10.0.0.5",
                                "networkport=7000",
                                "serialtimermsecond=500" };
    WindowFixture fixture(WindowFixture::Start::Later);
    QVERIFY(writeFile(fixture.env.settingsPath(),
                      "[Setup_Parameter]\n" + lines.join('\n').toUtf8() + '\n'));
    RunOptions &o = fixture.options;
    o.timestamps = Timestamps::View;
    o.baudRate = 115200;
    o.serialPorts = QStringList { "/dev/cli-tty", "/dev/other-tty" };
    o.host = QStringLiteral("127.0.0.1");
    o.port = QStringLiteral("7001");
    o.periodsMs[serial] = 300;
    fixture.start();
    auto *ports = fixture.widget<QComboBox>("CB_SerialPort");
    auto *rates = fixture.widget<QComboBox>("CB_BandRate");
    QTRY_COMPARE(fixture.periodBox(serial)->value(), 300);
    QCOMPARE(rates->currentText(), QStringLiteral("115200"));
    QCOMPARE(ports->currentText(), QStringLiteral("/dev/cli-tty"));
    QCOMPARE(fixture.value("LE_Port1"), QVariant("7001"));
    QMap<QString, QString> expected;
    for (const QString &line : lines)
        expected.insert(line.section('=', 0, 0), line.section('=', 1));
    if (changedInWindow) {
        ports->setCurrentText(QStringLiteral("/dev/other-tty"));
        rates->setCurrentIndex(1);
        expected["portname"] = "/dev/other-tty";
        expected["port"] = QString::number(ports->currentIndex());
        expected["bandrate"] = "1";
        expected["baudrate"] = "19200";
    }
    fixture.dialogs.setMessageBoxAnswer(QMessageBox::No);
    QVERIFY(fixture.window().close());

    QSettings settings(fixture.env.settingsPath(), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("Setup_Parameter"));
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        QCOMPARE(settings.value(it.key()).toString(), it.value());
    // The file had no periods of the network channels; those the window shows are written.
    QCOMPARE(settings.childKeys().size(), lines.size() + 3);
}

void SettingsTest::fileFollowsWorkingDirectory()
{
    WindowFixture fixture(WindowFixture::Start::Later);
    const TestEnvironment &env = fixture.env;
    QVERIFY(writeFile(env.settingsPath(), "[Setup_Parameter]\nbandrate=2\n"));
    const QString elsewhere = env.homePath() + QStringLiteral("/elsewhere");
    QVERIFY(QDir().mkpath(elsewhere));
    QVERIFY(QDir::setCurrent(elsewhere));

    fixture.dialogs.setMessageBoxAnswer(QMessageBox::No);
    fixture.start();
    verifyDefaults(fixture);
    QVERIFY(QDir::setCurrent(env.workPath())); // the path is fixed at start-up
    QVERIFY(fixture.window().close());
    QVERIFY(QFile::exists(elsewhere + QStringLiteral("/demosettings.ini")));
    QCOMPARE(QSettings(env.settingsPath(), QSettings::IniFormat)
                 .value(QStringLiteral("Setup_Parameter/bandrate"))
                 .toInt(),
             2);
}

void SettingsTest::serialPortsInWindow()
{
    WindowFixture fixture(WindowFixture::Start::Later);
    const TestEnvironment &env = fixture.env;
    const auto found = QSerialPortInfo::availablePorts();
    // The settings chose a port that is not here now: it stays listed after the found ones, but
    // the command line wins the selection. A port named by both is listed once.
    const QStringList paths = { "/dev/saved-tty", env.workPath() + "/ttyV0", "/dev/no-such-tty" };
    QSettings(env.settingsPath(), QSettings::IniFormat)
        .setValue("Setup_Parameter/portname", paths.first());
    fixture.options.serialPorts = paths.mid(1) + paths.mid(0, 1);
    fixture.start();

    const auto *combo = fixture.widget<QComboBox>(QStringLiteral("CB_SerialPort"));
    QCOMPARE(combo->count(), found.size() + 3);
    auto hex = [](quint16 id) { return id ? QString::number(id, 16) : QString(); };
    for (int i = 0; i < combo->count(); ++i) {
        const QString name = i < found.size() ? found.at(i).portName() : paths.at(i - found.size());
        QCOMPARE(combo->itemText(i), name);
        QCOMPARE(combo->itemData(i).userType(), int(QMetaType::QStringList));
        // What the system tells of a port it found; of a path it did not, only the path.
        const QStringList data = i < found.size()
            ? QStringList { name,
                            found.at(i).description(),
                            found.at(i).manufacturer(),
                            found.at(i).systemLocation(),
                            hex(found.at(i).vendorIdentifier()),
                            hex(found.at(i).productIdentifier()) }
            : QStringList { name, "", "", name, "", "" };
        QCOMPARE(combo->itemData(i).toStringList(), data);
    }
    QCOMPARE(combo->currentIndex(), found.size() + 1);
}

QTEST_MAIN(SettingsTest)
#include "tst_settings.moc"
