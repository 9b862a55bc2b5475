#include "modaldialoghelper.h"
#include "responsiveness.h"
#include "serialbench.h"

#include <QTest>

#include <memory>

namespace {
// How many of the line's six settings can be changed: all of them exactly while the port is
// closed.
int lineSettingsEnabled(const SerialBench &bench)
{
    int enabled = 0;
    for (const char *name : { "CB_SerialPort", "CB_BandRate", "CB_DataBit", "CB_Parity",
                              "CB_StopBit", "CB_FlowControl" })
        enabled += bench.widget<QComboBox>(name)->isEnabled();
    return enabled;
}
} // namespace

class TestSerialLink : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
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
};

void TestSerialLink::initTestCase()
{
    Pty pty;
    QVERIFY2(pty.isValid(), "no pseudo-terminal available");
}

void TestSerialLink::openSucceeds_data()
{
    QTest::addColumn<QString>("baud");
    QTest::addColumn<QString>("stopBits");
    QTest::addColumn<QString>("flow");
    QTest::addColumn<QString>("expectedLine");

    // clang-format off
    QTest::newRow("defaults")
        << "9600" << "1" << "None" << "9600, 8, None, 1, None";
    QTest::newRow("fast, two stop bits, RTS/CTS")
        << "115200" << "2" << "RTS/CTS" << "115200, 8, None, 2, RTS/CTS";
    QTest::newRow("XON/XOFF")
        << "38400" << "1" << "XON/XOFF" << "38400, 8, None, 1, XON/XOFF";
    // clang-format on
}

void TestSerialLink::openSucceeds()
{
    QFETCH(QString, baud);
    QFETCH(QString, stopBits);
    QFETCH(QString, flow);
    QFETCH(QString, expectedLine);

    SerialBench bench;
    bench.select("CB_BandRate", baud);
    bench.select("CB_StopBit", stopBits);
    bench.select("CB_FlowControl", flow);
    bench.console()->setEnabled(false);
    ModalDialogHelper dialogs;
    bench.openButton()->click();

    QVERIFY(bench.port()->isOpen());
    QCOMPARE(bench.status(),
             QStringLiteral("Connected to %1 : %2").arg(bench.pty.slavePath(), expectedLine));
    QCOMPARE(bench.openButton()->text(), QStringLiteral("Close"));
    QVERIFY(bench.openButton()->isChecked());
    QVERIFY(bench.console()->isEnabled());
    // The number behind the item is what the port gets, not its text.
    QCOMPARE(bench.port()->baudRate(), baud.toInt());
    QCOMPARE(bench.port()->readBufferSize(), qint64(1024));
    QCOMPARE(dialogs.count(), 0);
    QCOMPARE(lineSettingsEnabled(bench), 0);
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

    SerialBench bench;
    if (portName == QLatin1String("<none>"))
        bench.widget<QComboBox>("CB_SerialPort")->setCurrentIndex(-1);
    else if (portName != QLatin1String("<pty>"))
        bench.selectPort(bench.env.workPath() + QLatin1Char('/') + portName);
    bench.select("CB_DataBit", dataBits);
    bench.select("CB_Parity", parity);
    ModalDialogHelper dialogs;
    bench.openButton()->click();

    QCOMPARE(dialogs.titles(), QStringList { "Error" });
    QVERIFY(!dialogs.texts().constFirst().isEmpty());
    QCOMPARE(dialogs.texts().constFirst(), bench.port()->errorString());
    QCOMPARE(bench.status(), expectedStatus);
    QVERIFY(!bench.port()->isOpen());
    QVERIFY(!bench.openButton()->isChecked());
    QCOMPARE(bench.openButton()->text(), QStringLiteral("Open"));
    QCOMPARE(lineSettingsEnabled(bench), 6);

    // The button was released, so the next click tries to open again.
    dialogs.clear();
    bench.openButton()->click();
    QCOMPARE(dialogs.titles(), QStringList { "Error" });
    QCOMPARE(dialogs.texts().constFirst(), bench.port()->errorString());
    QCOMPARE(bench.status(), expectedStatus);
    QVERIFY(!bench.openButton()->isChecked());
}

void TestSerialLink::closeByButton()
{
    SerialBench bench;
    ModalDialogHelper dialogs;
    bench.openButton()->click();
    QVERIFY(bench.port()->isOpen());
    bench.openButton()->click();

    QVERIFY(!bench.port()->isOpen());
    QCOMPARE(bench.status(), QStringLiteral("Disconnected"));
    QCOMPARE(bench.openButton()->text(), QStringLiteral("Open"));
    QVERIFY(!bench.openButton()->isChecked());
    QVERIFY(!bench.console()->isEnabled());
    QCOMPARE(dialogs.count(), 0);
    QCOMPARE(lineSettingsEnabled(bench), 6);

    // The same port opens again.
    bench.openButton()->click();
    QVERIFY(bench.port()->isOpen());
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

    SerialBench bench;
    ModalDialogHelper dialogs;
    if (open)
        bench.openButton()->click();
    QCOMPARE(bench.port()->isOpen(), open);
    const QString status = bench.status();

    QVERIFY(QMetaObject::invokeMethod(&bench.window, "handleError",
                                      Q_ARG(QSerialPort::SerialPortError, error)));
    QTest::qWait(100); // a loss would be handled from the event loop

    QCOMPARE(dialogs.count(), 0);
    QCOMPARE(bench.status(), status);
    QCOMPARE(bench.port()->isOpen(), open);
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

    SerialBench bench;
    bench.openButton()->click();
    QVERIFY(bench.port()->isOpen());
    if (periodicSend) {
        bench.timerButton()->click();
        QVERIFY(bench.sendTimer()->isActive());
        QCOMPARE(bench.timerButton()->text(), QStringLiteral("Stop"));
    }

    // The box is left up for a while before it is answered, as a user would: the process must
    // be idle while it is up, and stay idle in the second after the answer.
    std::unique_ptr<ModalDialogHelper> dialogs;
    QString statusAtBox;
    QString captionAtBox;
    const double cpuAtLoss = processCpuSeconds();
    double cpuWhileUp = 0;
    double cpuAtAnswer = 0;
    QTimer answerLater;
    answerLater.setSingleShot(true);
    connect(&answerLater, &QTimer::timeout, this, [&] {
        cpuWhileUp = processCpuSeconds() - cpuAtLoss;
        dialogs = std::make_unique<ModalDialogHelper>();
        connect(dialogs.get(), &ModalDialogHelper::answered, this, [&] {
            statusAtBox = bench.status();
            captionAtBox = bench.openButton()->text();
            cpuAtAnswer = processCpuSeconds();
        });
    });
    answerLater.start(300);

    if (hangUp)
        bench.pty.closeMaster();
    else
        QVERIFY(QMetaObject::invokeMethod(
            &bench.window, "handleError",
            Q_ARG(QSerialPort::SerialPortError, QSerialPort::ResourceError)));
    QTRY_VERIFY(dialogs && dialogs->count() == 1);
    QTest::qWait(1000);
    const double cpuAfter = processCpuSeconds() - cpuAtAnswer;
    qInfo("CPU time: %.3f s in the 0.3 s with the box up, %.3f s in the second after it",
          cpuWhileUp, cpuAfter);

    QCOMPARE(dialogs->titles(), QStringList { "Critical Error" });
    const QString text = dialogs->texts().constFirst();
    QVERIFY2(text.startsWith(QStringLiteral("The device on %1 was disconnected or stopped "
                                            "responding.")
                                 .arg(bench.pty.slavePath())),
             qPrintable(text));
    QVERIFY2(!text.contains(QLatin1String("Unknown error")), qPrintable(text));
    QVERIFY(statusAtBox.startsWith(QLatin1String("Connected to ")));
    QCOMPARE(captionAtBox, QStringLiteral("Close"));
    QVERIFY2(cpuWhileUp < 0.1, qPrintable(QString::number(cpuWhileUp)));
    QVERIFY2(cpuAfter < 0.3, qPrintable(QString::number(cpuAfter)));

    QVERIFY(!bench.port()->isOpen());
    QCOMPARE(bench.status(), QStringLiteral("Disconnected"));
    QCOMPARE(bench.openButton()->text(), QStringLiteral("Open"));
    QVERIFY(!bench.openButton()->isChecked());
    QCOMPARE(lineSettingsEnabled(bench), 6);
    QVERIFY(!bench.console()->isEnabled());
    QVERIFY(!bench.sendTimer()->isActive());
    QVERIFY(!bench.timerButton()->isChecked());
    QCOMPARE(bench.timerButton()->text(), QStringLiteral("Start"));

    // With the device back, one click opens the port again.
    if (!hangUp) {
        bench.openButton()->click();
        QVERIFY(bench.port()->isOpen());
        QCOMPARE(dialogs->count(), 1);
    }
}

void TestSerialLink::consoleKeysGoToTheLine()
{
    SerialBench bench;
    bench.openButton()->click();
    QVERIFY(bench.port()->isOpen());
    auto *sent = bench.widget<QLineEdit>("LE_SerialSentCount");
    auto *received = bench.widget<QLineEdit>("LE_SerialRecvCount");
    const QString sentBefore = sent->text();
    const QString receivedBefore = received->text();

    QTest::keyClicks(bench.console(), QStringLiteral("at+x"));
    QTest::keyClick(bench.console(), Qt::Key_Return);
    QTest::keyClick(bench.console(), Qt::Key_Backspace);

    QByteArray line;
    QTRY_COMPARE(line += bench.pty.readAvailable(), QByteArray("at+x\r\x08"));
    QTest::qWait(50); // a few polls: nothing comes back, so nothing may be shown
    QVERIFY(bench.console()->toPlainText().isEmpty());
    QCOMPARE(sent->text(), sentBefore);
    QCOMPARE(received->text(), receivedBefore);
    QVERIFY(bench.env.logContents(QStringLiteral("-serial.txt")).isEmpty());
}

QTEST_MAIN(TestSerialLink)
#include "tst_seriallink.moc"
