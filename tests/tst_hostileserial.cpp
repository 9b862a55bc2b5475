#include "channelfixture.h"
#include "joiningthread.h"
#include "responsiveness.h"
#include "testdata.h"
#include "viewchecks.h"

#include <QFileInfo>
#include <QtTest>

#include <atomic>

namespace {

// A received line feed ends its line in the serial view and log ("0A" and a line break);
// reversing that gives the plain hex rendering back.
QByteArray hexFromSerialLog(QByteArray log)
{
    return log.replace('\n', ' ');
}

// Counts the warnings and errors Qt and the program print while it lives.
class WarningCounter {
public:
    WarningCounter()
    {
        s_count = 0;
        s_previous = qInstallMessageHandler(&WarningCounter::handle);
    }
    ~WarningCounter() { qInstallMessageHandler(s_previous); }
    int count() const { return s_count; }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (type != QtDebugMsg && type != QtInfoMsg)
            ++s_count;
        s_previous(type, context, message);
    }
    static inline std::atomic<int> s_count { 0 };
    static inline QtMessageHandler s_previous = nullptr;
};

} // namespace

class TestHostileSerial : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(Pty().isValid(), "no pseudo-terminal available"); }
    void allByteValues_data();
    void allByteValues();
    void megabyteBurst_data();
    void megabyteBurst();
    void masterClosed_data();
    void masterClosed();
    void consoleKeysWhileClosed_data();
    void consoleKeysWhileClosed();
};

void TestHostileSerial::allByteValues_data()
{
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QByteArray>("bytes");
    for (const ByteValueRow &row : everyByteValueRows())
        QTest::newRow(row.tag) << row.hex << row.bytes;
}

void TestHostileSerial::allByteValues()
{
    QFETCH(bool, hex);
    QFETCH(QByteArray, bytes);
    ChannelFixture fixture;
    QVERIFY(fixture.show());
    QVERIFY(fixture.open(serial, hex));
    QVERIFY(fixture.pty.write(bytes));
    // Every block has been counted once the last byte is logged; a burst split in two shows as
    // a second block.
    QTRY_COMPARE(
        QString::fromLocal8Bit(hex ? hexFromSerialLog(fixture.log(serial)) : fixture.log(serial)),
        hex ? hexOf(bytes) : shownAsText(bytes));

    QCOMPARE(fixture.received(serial), 1);
    const QByteArray log = fixture.log(serial);
    const QString logged = QString::fromLocal8Bit(log);
    if (hex) {
        QCOMPARE(hexFromSerialLog(log), hexOf(bytes).toLatin1());
        QCOMPARE(log.count('\n'), 1);
    } else {
        QVERIFY(!log.contains('\0'));
        QCOMPARE(logged, shownAsText(bytes));
    }
    QCOMPARE(fixture.shown(serial), shownAs(logged));
    QCOMPARE(fixture.written(serial), QByteArray()); // nothing echoed back to the device
    QCOMPARE(fixture.dialogs.count(), 0);
}

void TestHostileSerial::megabyteBurst_data()
{
    QTest::addColumn<bool>("hex");
    QTest::newRow("1 MB of random bytes in hex") << true;
    QTest::newRow("256 KB of text without a line break") << false;
}

void TestHostileSerial::megabyteBurst()
{
    QFETCH(bool, hex);
    const QByteArray bytes
        = hex ? randomBytes(1 << 20, 1) : plainText(256 * 1024, 2, plainAlphabet);
    const QByteArray expectedLog = hex ? hexOf(bytes).toLatin1() : bytes;
    const qint64 expectedSize = expectedLog.size();
    ChannelFixture fixture;
    QVERIFY(fixture.show());
    QVERIFY(fixture.open(serial, hex));
    std::atomic<bool> written { false };
    JoiningThread device;
    device.start([&] { written = fixture.pty.write(bytes); });
    const bool complete = loopUntil(
        [&] { return QFileInfo(fixture.logPath(serial)).size() >= expectedSize; }, 120000);
    device.join();

    QVERIFY(written);
    QVERIFY(complete);
    const QByteArray log = fixture.log(serial);
    QVERIFY(hex ? hexFromSerialLog(log) == expectedLog : log == expectedLog);
    // A device that never pauses is shown in blocks of 4 KiB (a busy machine may make the line
    // look quiet now and then), not in crumbs and not as one endless block.
    const int blocks = fixture.received(serial);
    QVERIFY2(blocks >= bytes.size() / 4096 && blocks <= bytes.size() / 2048,
             qPrintable(QString::number(blocks)));
    verifyViewIsTailOfLog(fixture.view(serial), QString::fromLatin1(log));
    QCOMPARE(fixture.dialogs.count(), 0);
}

void TestHostileSerial::masterClosed_data()
{
    QTest::addColumn<bool>("periodicSend");
    QTest::newRow("mid-burst") << false;
    QTest::newRow("during a periodic send") << true;
}

void TestHostileSerial::masterClosed()
{
    QFETCH(bool, periodicSend);
    ChannelFixture fixture;
    QVERIFY(fixture.show());
    QVERIFY(fixture.open(serial, !periodicSend)); // the command goes out as text, the burst in hex
    // The box is left up for a while, as a user would.
    fixture.dialogs.setAnswerDelay(100);
    QString statusAtBox;
    connect(&fixture.dialogs, &ModalDialogHelper::answered, this,
            [&] { statusAtBox = fixture.status(); });
    const QByteArray bytes = randomBytes(1 << 20, 3);
    JoiningThread device;
    if (periodicSend) {
        fixture.startPeriodicSend(serial, QStringLiteral("P"), 100);
        QCOMPARE(fixture.periodicSend(serial), QStringLiteral("Stop checked running"));
        QTRY_VERIFY(fixture.written(serial).size() >= 6);
        fixture.pty.closeMaster();
    } else {
        device.start([&] {
            fixture.pty.write(bytes.left(256 * 1024));
            fixture.pty.closeMaster();
        });
    }

    QVERIFY(loopUntil([&] { return fixture.dialogs.count() == 1; }, 30000));
    QVERIFY(passMarker()); // nothing the channel had queued may bring a second box
    device.join();

    QCOMPARE(fixture.dialogs.titles(), QStringList { "Critical Error" });
    // The port was closed when the loss was seen, before the user was told.
    QCOMPARE(statusAtBox, QStringLiteral("Disconnected"));
    QCOMPARE(fixture.status(), QStringLiteral("Disconnected"));
    QVERIFY(!fixture.serialPort()->isOpen());
    QCOMPARE(fixture.periodicSend(serial), QStringLiteral("Start"));

    // The loss is the log's last line, after all that had arrived.
    QByteArray log = fixture.log(serial);
    const QByteArray loss = "--- link lost: the device on " + fixture.pty.slavePath().toLocal8Bit()
        + " was disconnected or stopped responding ---\n";
    QVERIFY2(log.endsWith(loss), log.right(200).constData());
    log.chop(loss.size());
    if (log.endsWith('\n') && !periodicSend)
        log.chop(1); // the line break that puts the loss on a line of its own
    if (periodicSend) {
        // Every send that was counted was shown and logged, and had reached the device.
        QVERIFY(fixture.sent(serial) >= 3);
        QCOMPARE(log, QByteArray("P\n").repeated(fixture.sent(serial)));
        QVERIFY(
            QByteArray("P\n").repeated(fixture.sent(serial)).startsWith(fixture.written(serial)));
    } else {
        // What had arrived before the loss is shown; nothing is made up or reordered.
        const QByteArray hex = hexFromSerialLog(log);
        QVERIFY(hexOf(bytes.left(256 * 1024)).toLatin1().startsWith(hex));
        qInfo("%lld of %d bytes shown before the loss", qint64(hex.size() / 3), 256 * 1024);
    }
    QCOMPARE(fixture.dialogs.count(), 1);
}

void TestHostileSerial::consoleKeysWhileClosed_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("never opened") << "never";
    QTest::newRow("closed by the user") << "user";
    QTest::newRow("device lost") << "lost";
}

void TestHostileSerial::consoleKeysWhileClosed()
{
    QFETCH(QString, how);
    ChannelFixture fixture;
    QVERIFY(fixture.show());
    if (how != "never") {
        QVERIFY(fixture.open(serial));
        if (how == "user")
            fixture.press(serial, ChannelFixture::Button::Link);
        else
            fixture.pty.closeMaster();
        QTRY_COMPARE(fixture.status(), QStringLiteral("Disconnected"));
        if (how == "lost") // told once, in its box
            QTRY_COMPARE(fixture.dialogs.count(), 1);
    }
    QVERIFY(!fixture.serialPort()->isOpen());
    const int boxes = fixture.dialogs.count();
    const QString status = fixture.status();
    const QByteArray logged = fixture.log(serial);

    WarningCounter warnings;
    QTextEdit *console = fixture.view(serial);
    for (int round = 0; round < 20; ++round) {
        QTest::keyClicks(console, QStringLiteral("at+x "));
        QKeyEvent accented(QEvent::KeyPress, Qt::Key_Eacute, Qt::NoModifier, QStringLiteral("é"));
        QApplication::sendEvent(console, &accented);
        for (const Qt::Key key : { Qt::Key_Return, Qt::Key_Backspace, Qt::Key_Tab, Qt::Key_Escape,
                                   Qt::Key_F1, Qt::Key_Left, Qt::Key_Down, Qt::Key_Delete })
            QTest::keyClick(console, key);
        QTest::keyClick(console, Qt::Key_C, Qt::ControlModifier);
    }
    QVERIFY(passMarker());

    QCOMPARE(warnings.count(), 0);
    QCOMPARE(fixture.dialogs.count(), boxes);
    QCOMPARE(fixture.status(), status);
    QCOMPARE(fixture.sent(serial), 0);
    QCOMPARE(fixture.received(serial), 0);
    QVERIFY(!console->toPlainText().contains("at+x"));
    QCOMPARE(fixture.log(serial), logged);
    if (how == "lost")
        return;
    QCOMPARE(fixture.written(serial), QByteArray());

    // The port opens as usual afterwards (on a line that is still there).
    if (how == "user")
        fixture.press(serial, ChannelFixture::Button::Link); // unchecked by the close: this opens
    QVERIFY(fixture.serialPort()->isOpen() || fixture.open(serial));
    QTest::keyClicks(console, QStringLiteral("ok"));
    QTRY_COMPARE(fixture.written(serial), QByteArray("ok"));
}

QTEST_MAIN(TestHostileSerial)
#include "tst_hostileserial.moc"
