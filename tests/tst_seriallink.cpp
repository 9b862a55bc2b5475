#include "channelfixture.h"
#include "responsiveness.h"
#include "viewchecks.h"

#include <QTest>

namespace {

// How many of the line's six settings can be changed: all of them exactly while the port is
// closed.
int lineSettingsEnabled(const ChannelFixture &fixture)
{
    const SerialPanel::LineWidgets &line = fixture.serialPanel().lineWidgets();
    int enabled = 0;
    for (const QComboBox *box :
         { line.port, line.baudRate, line.dataBits, line.parity, line.stopBits, line.flowControl })
        enabled += box->isEnabled();
    return enabled;
}
} // namespace

class TestSerialLink : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(Pty().isValid(), "no pseudo-terminal available"); }
    void openSucceeds_data();
    void openSucceeds();
    void openFails_data();
    void openFails();
    void closeByButton();
    void otherErrorsIgnored_data();
    void otherErrorsIgnored();
    void deviceLoss_data();
    void deviceLoss();
    void consoleKeysGoToTheLine();
    void reopensAsTold();
};

void TestSerialLink::openSucceeds_data()
{
    QTest::addColumn<QString>("baud");
    QTest::addColumn<QString>("stopBits");
    QTest::addColumn<QString>("flow");
    QTest::addColumn<QString>("expectedLine");
    QTest::addColumn<QString>("options"); // as the command line gives them
    QTest::addColumn<QStringList>("refused"); // control lines the status bar says it could not set

    // clang-format off
    QTest::newRow("defaults")
        << "9600" << "1" << "None" << "9600, 8, None, 1, None" << "" << QStringList();
    QTest::newRow("fast, two stop bits, RTS/CTS")
        << "115200" << "2" << "RTS/CTS" << "115200, 8, None, 2, RTS/CTS" << "" << QStringList();
    QTest::newRow("XON/XOFF")
        << "38400" << "1" << "XON/XOFF" << "38400, 8, None, 1, XON/XOFF" << "" << QStringList();
    QTest::newRow("a rate beyond the list")
        << "250000" << "1" << "None" << "250000, 8, None, 1, None" << "--baud 250000"
        << QStringList();
    // A pty has no control lines: each one is told beside the line, and the port stays open.
    QTest::newRow("DTR on a pty")
        << "9600" << "1" << "None" << "9600, 8, None, 1, None" << "--dtr on"
        << QStringList { "DTR" };
    QTest::newRow("RTS on a pty")
        << "9600" << "1" << "None" << "9600, 8, None, 1, None" << "--rts off"
        << QStringList { "RTS" };
    QTest::newRow("DTR and RTS on a pty")
        << "9600" << "1" << "None" << "9600, 8, None, 1, None" << "--dtr on --rts off"
        << QStringList { "DTR", "RTS" };
    // clang-format on
}

void TestSerialLink::openSucceeds()
{
    QFETCH(QString, baud);
    QFETCH(QString, stopBits);
    QFETCH(QString, flow);
    QFETCH(QString, expectedLine);
    QFETCH(QString, options);
    QFETCH(QStringList, refused);

    ChannelFixture fixture;
    const SerialPanel::LineWidgets &line = fixture.serialPanel().lineWidgets();
    const QStringList words = options.split(' ', Qt::SkipEmptyParts);
    std::optional<bool> dtr;
    std::optional<bool> rts;
    for (int i = 0; i + 1 < words.size(); i += 2) {
        if (words[i] == "--baud") // a rate beyond the list joins it, as the window adds it
            line.baudRate->addItem(words[i + 1], words[i + 1].toInt());
        else if (words[i] == "--dtr")
            dtr = switchFromText(words[i + 1]);
        else if (words[i] == "--rts")
            rts = switchFromText(words[i + 1]);
    }
    fixture.serial().setControlLines(dtr, rts);
    line.baudRate->setCurrentText(baud);
    QCOMPARE(line.baudRate->currentText(), baud);
    line.stopBits->setCurrentText(stopBits);
    line.flowControl->setCurrentText(flow);
    fixture.view(serial)->setEnabled(false);
    QVERIFY(fixture.open(serial));

    QString expected
        = QStringLiteral("Connected to %1 : %2").arg(fixture.pty.slavePath(), expectedLine);
    for (const QString &line : refused)
        expected += QStringLiteral("; could not set %1: Inappropriate ioctl for device").arg(line);
    QCOMPARE(fixture.status(), expected);
    QCOMPARE(fixture.linkButton(serial)->text(), QStringLiteral("Close"));
    QVERIFY(fixture.linkButton(serial)->isChecked());
    QVERIFY(fixture.view(serial)->isEnabled());
    // The number behind the item is what the port gets, not its text.
    QCOMPARE(fixture.serialPort()->baudRate(), baud.toInt());
    QCOMPARE(fixture.serialPort()->readBufferSize(), qint64(1024 * 1024));
    QCOMPARE(fixture.dialogs.count(), 0);
    QCOMPARE(lineSettingsEnabled(fixture), 0);
}

void TestSerialLink::openFails_data()
{
    QTest::addColumn<QString>("portName"); // "<pty>" for the pty, "<none>" for no selection
    QTest::addColumn<QString>("dataBits");
    QTest::addColumn<QString>("parity");
    QTest::addColumn<QString>("expectedStatus");

    // clang-format off
    QTest::newRow("no port selected")
        << "<none>" << "8" << "None" << "Open serial error";
    QTest::newRow("missing device")
        << "no-such-port" << "8" << "None" << "Open serial error";
    QTest::newRow("7 data bits refused by the line")
        << "<pty>" << "7" << "None" << "Configure error";
    QTest::newRow("even parity refused by the line")
        << "<pty>" << "8" << "Even" << "Configure error";
    // clang-format on
}

void TestSerialLink::openFails()
{
    QFETCH(QString, portName);
    QFETCH(QString, dataBits);
    QFETCH(QString, parity);
    QFETCH(QString, expectedStatus);

    ChannelFixture fixture;
    const SerialPanel::LineWidgets &line = fixture.serialPanel().lineWidgets();
    if (portName == QLatin1String("<none>"))
        line.port->setCurrentIndex(-1);
    else if (portName != QLatin1String("<pty>"))
        fixture.selectSerialPort(fixture.env.workPath() + QLatin1Char('/') + portName);
    line.dataBits->setCurrentText(dataBits);
    line.parity->setCurrentText(parity);
    QPushButton *open = fixture.linkButton(serial);
    fixture.press(serial, ChannelFixture::Button::Link);

    QCOMPARE(fixture.dialogs.titles(), QStringList { "Error" });
    QVERIFY(!fixture.dialogs.texts().constFirst().isEmpty());
    // The box names the port, since the system's reason does not.
    const QString named = (portName == QLatin1String("<none>") ? QStringLiteral("no port selected")
                                                               : line.port->currentText())
        + QStringLiteral(": ") + fixture.serialPort()->errorString();
    QCOMPARE(fixture.dialogs.texts().constFirst(), named);
    QCOMPARE(fixture.status(), expectedStatus);
    QVERIFY(!fixture.serialPort()->isOpen());
    QVERIFY(!open->isChecked());
    QCOMPARE(open->text(), QStringLiteral("Open"));
    QCOMPARE(lineSettingsEnabled(fixture), 6);

    // The button was released, so the next click tries to open again.
    fixture.dialogs.clear();
    fixture.press(serial, ChannelFixture::Button::Link);
    QCOMPARE(fixture.dialogs.titles(), QStringList { "Error" });
    QCOMPARE(fixture.dialogs.texts().constFirst(), named);
    QCOMPARE(fixture.status(), expectedStatus);
    QVERIFY(!open->isChecked());
}

void TestSerialLink::closeByButton()
{
    ChannelFixture fixture;
    QVERIFY(fixture.open(serial));
    QPushButton *open = fixture.linkButton(serial);
    fixture.press(serial, ChannelFixture::Button::Link);

    QVERIFY(!fixture.serialPort()->isOpen());
    QCOMPARE(fixture.status(), QStringLiteral("Disconnected"));
    QCOMPARE(open->text(), QStringLiteral("Open"));
    QVERIFY(!open->isChecked());
    QVERIFY(!fixture.view(serial)->isEnabled());
    QCOMPARE(fixture.dialogs.count(), 0);
    QCOMPARE(lineSettingsEnabled(fixture), 6);

    // The same port opens again.
    fixture.press(serial, ChannelFixture::Button::Link);
    QVERIFY(fixture.serialPort()->isOpen());
}

void TestSerialLink::otherErrorsIgnored_data()
{
    QTest::addColumn<bool>("open");
    QTest::addColumn<QSerialPort::SerialPortError>("error");

    QTest::newRow("no error, port open") << true << QSerialPort::NoError;
    QTest::newRow("write error, port open") << true << QSerialPort::WriteError;
    QTest::newRow("timeout, port open") << true << QSerialPort::TimeoutError;
    QTest::newRow("unknown error, port open") << true << QSerialPort::UnknownError;
    QTest::newRow("read error, port closed") << false << QSerialPort::ReadError;
}

void TestSerialLink::otherErrorsIgnored()
{
    QFETCH(bool, open);
    QFETCH(QSerialPort::SerialPortError, error);

    ChannelFixture fixture;
    if (open)
        QVERIFY(fixture.open(serial));
    QCOMPARE(fixture.serialPort()->isOpen(), open);
    const QString status = fixture.status();

    emit fixture.serialPort()->errorOccurred(error);
    QVERIFY(passMarker()); // a loss would be handled from the event loop

    QCOMPARE(fixture.dialogs.count(), 0);
    QCOMPARE(fixture.status(), status);
    QCOMPARE(fixture.serialPort()->isOpen(), open);
}

void TestSerialLink::deviceLoss_data()
{
    QTest::addColumn<bool>("periodicSend");
    QTest::addColumn<bool>("hangUp"); // else the port reports a resource error

    QTest::newRow("hang-up") << false << true;
    QTest::newRow("hang-up during periodic send") << true << true;
    QTest::newRow("resource error") << false << false;
    QTest::newRow("resource error during periodic send") << true << false;
}

void TestSerialLink::deviceLoss()
{
    QFETCH(bool, periodicSend);
    QFETCH(bool, hangUp);

    ChannelFixture fixture;
    QVERIFY(fixture.open(serial));
    QPushButton *open = fixture.linkButton(serial);
    if (periodicSend) {
        fixture.press(serial, ChannelFixture::Button::Timer);
        QCOMPARE(fixture.periodicSend(serial), QStringLiteral("Stop checked running"));
    }

    // The box is left up for a while before it is answered, as a user would.
    fixture.dialogs.setAnswerDelay(100);
    QString statusAtBox;
    QString captionAtBox;
    bool openAtBox = true;
    connect(&fixture.dialogs, &ModalDialogHelper::answered, this, [&] {
        statusAtBox = fixture.status();
        captionAtBox = open->text();
        openAtBox = fixture.serialPort()->isOpen();
    });

    if (hangUp)
        fixture.pty.closeMaster();
    else
        emit fixture.serialPort()->errorOccurred(QSerialPort::ResourceError);
    QTRY_COMPARE(fixture.dialogs.count(), 1);
    QVERIFY(passMarker()); // nothing the channel had queued may bring a second box

    QCOMPARE(fixture.dialogs.titles(), QStringList { "Critical Error" });
    // Told as the loss it is, whatever error the system had left over from an earlier call.
    QCOMPARE(fixture.dialogs.texts().constFirst(),
             QStringLiteral("The device on %1 was disconnected or stopped responding.")
                 .arg(fixture.pty.slavePath()));
    // The loss is a fact before the user is told: the port is closed, and the log says why.
    QCOMPARE(statusAtBox, QStringLiteral("Disconnected"));
    QCOMPARE(captionAtBox, QStringLiteral("Open"));
    QVERIFY(!openAtBox);
    QVERIFY(fixture.log(serial).endsWith("--- link lost: the device on "
                                         + fixture.pty.slavePath().toLocal8Bit()
                                         + " was disconnected or stopped responding ---\n"));

    QVERIFY(!fixture.serialPort()->isOpen());
    QCOMPARE(fixture.status(), QStringLiteral("Disconnected"));
    QCOMPARE(open->text(), QStringLiteral("Open"));
    QVERIFY(!open->isChecked());
    QCOMPARE(lineSettingsEnabled(fixture), 6);
    QVERIFY(!fixture.view(serial)->isEnabled());
    QCOMPARE(fixture.periodicSend(serial), QStringLiteral("Start"));

    // With the device back, one click opens the port again.
    if (!hangUp) {
        fixture.press(serial, ChannelFixture::Button::Link);
        QVERIFY(fixture.serialPort()->isOpen());
        QCOMPARE(fixture.dialogs.count(), 1);
    }
}

void TestSerialLink::consoleKeysGoToTheLine()
{
    ChannelFixture fixture;
    QVERIFY(fixture.open(serial));
    const int sentBefore = fixture.sent(serial);
    const int receivedBefore = fixture.received(serial);

    QTest::keyClicks(fixture.view(serial), QStringLiteral("at+x"));
    QTest::keyClick(fixture.view(serial), Qt::Key_Return);
    QTest::keyClick(fixture.view(serial), Qt::Key_Backspace);

    QTRY_COMPARE(fixture.written(serial), QByteArray("at+x\r\x08"));
    // Nothing comes back, so nothing may be shown before what the device sends next.
    QVERIFY(fixture.deliver(serial, "ok"));
    QTRY_COMPARE(fixture.received(serial), receivedBefore + 1);
    QCOMPARE(fixture.shown(serial), QStringLiteral("ok"));
    QCOMPARE(fixture.sent(serial), sentBefore);
    QCOMPARE(fixture.log(serial), QByteArray("ok"));
}

// Opened as at start with a periodic send, the port survives its device going away and coming
// back under the same path, as socat's link does.
void TestSerialLink::reopensAsTold()
{
    ChannelFixture fixture;
    const QString link = fixture.env.workPath() + QStringLiteral("/ttyLink");
    QVERIFY(QFile::link(fixture.pty.slavePath(), link));
    SerialChannel &channel = fixture.serial();
    channel.setReconnect(true);
    // Tried again every 100 ms instead of every second.
    auto *reopen = fixture.widget<QTimer>(QStringLiteral("serialReopenTimer"));
    reopen->setInterval(100);
    fixture.selectSerialPort(link);
    fixture.commandLine(serial)->setText(QStringLiteral("P"));
    fixture.periodBox(serial)->setValue(100);
    channel.startPeriodicSendWhenOpen();
    channel.openAtStart();
    QTRY_VERIFY(fixture.written(serial).startsWith("P\nP\n"));

    fixture.pty.closeMaster();
    QTRY_VERIFY(fixture.log(serial).contains("--- link lost: "));
    QVERIFY2(fixture.status().startsWith("Serial port " + link + " lost"),
             qPrintable(fixture.status()));
    QCOMPARE(fixture.linkButton(serial)->text(), QStringLiteral("Close"));

    Pty device;
    QVERIFY(QFile::remove(link) && QFile::link(device.slavePath(), link));
    QByteArray got;
    QTRY_VERIFY_WITH_TIMEOUT((got += device.readAvailable()).startsWith("P\n"), 5000);
    QVERIFY(fixture.serialPort()->isOpen());
    QVERIFY(fixture.log(serial).contains("--- link back ---\nP\n"));
    QCOMPARE(fixture.dialogs.count(), 0);
    // The gap shows where people look, in the muted colour of stamps.
    const QString shown = fixture.shown(serial);
    QVERIFY2(shown.contains("\n--- link lost: the device on " + link
                            + " was disconnected or stopped responding ---\n")
                 && shown.contains("\n--- link back ---\n"),
             qPrintable(shown));
    QCOMPARE(colourOf(fixture.view(serial), "--- link back ---"),
             fixture.view(serial)->palette().color(QPalette::PlaceholderText));

    // The user's own Close ends it for good.
    fixture.press(serial, ChannelFixture::Button::Link);
    QCOMPARE(fixture.linkButton(serial)->text(), QStringLiteral("Open"));
    QVERIFY(!reopen->isActive());
}

QTEST_MAIN(TestSerialLink)
#include "tst_seriallink.moc"
