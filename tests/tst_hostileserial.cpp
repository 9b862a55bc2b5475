#include "modaldialoghelper.h"
#include "responsiveness.h"
#include "serialbench.h"
#include "testdata.h"
#include "viewchecks.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSpinBox>
#include <QTextCodec>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

#include <unistd.h>

namespace {

// Text without a line break that the serial clean-up leaves alone.
const QByteArray textAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789 ";

// A shown window, sized as on a bench, with the counters read as numbers.
struct ShownSerialBench : SerialBench {
    ShownSerialBench()
    {
        window.resize(1200, 900);
        window.show();
    }
    int sent() const { return SerialBench::sent().toInt(); }
    int received() const { return SerialBench::received().toInt(); }
};

// A received line feed shows as a line break in the serial view and log; reversing that gives
// the plain hex rendering back.
QByteArray hexFromSerialLog(QByteArray log)
{
    return log.replace('\n', "0A ");
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
    void initTestCase();
    void allByteValues_data();
    void allByteValues();
    void megabyteBurst_data();
    void megabyteBurst();
    void masterClosed_data();
    void masterClosed();
    void consoleKeysWhileClosed_data();
    void consoleKeysWhileClosed();
};

void TestHostileSerial::initTestCase()
{
    Pty pty;
    QVERIFY2(pty.isValid(), "no pseudo-terminal available");
}

void TestHostileSerial::allByteValues_data()
{
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QByteArray>("bytes");
    QByteArray ascending;
    for (int i = 0; i < 256; ++i)
        ascending += char(i);
    QByteArray descending = ascending;
    std::reverse(descending.begin(), descending.end());
    QTest::newRow("hex, 00 to FF") << true << ascending;
    QTest::newRow("hex, FF to 00") << true << descending;
    QTest::newRow("ASCII, 00 first shows as the NUL symbol") << false << ascending;
    QTest::newRow("ASCII, 01 to FF then 00") << false << ascending.mid(1) + '\0';
    QTest::newRow("ASCII, FF to 00") << false << descending;
}

void TestHostileSerial::allByteValues()
{
    QFETCH(bool, hex);
    QFETCH(QByteArray, bytes);
    ShownSerialBench bench;
    ModalDialogHelper dialogs;
    QVERIFY(bench.open(hex));
    QVERIFY(bench.pty.write(bytes));
    QTRY_COMPARE(bench.received(), 1);
    QTest::qWait(50); // a burst split in two would show as a second block

    QCOMPARE(bench.received(), 1);
    const QByteArray log = bench.log();
    const QString logged = QTextCodec::codecForLocale()->toUnicode(log);
    if (hex) {
        QCOMPARE(hexFromSerialLog(log), hexOf(bytes).toLatin1());
        QCOMPARE(log.count('\n'), 1);
    } else {
        QVERIFY(!log.contains('\0'));
        QCOMPARE(logged, shownAsText(bytes));
    }
    QString shown = logged;
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QCOMPARE(bench.console()->toPlainText(), shown);
    QCOMPARE(bench.pty.readAvailable(), QByteArray()); // nothing echoed back to the device
    QCOMPARE(dialogs.count(), 0);
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
    // The line moves about 100 KB/s (1 KiB per 10 ms poll), so the text row is kept shorter.
    const QByteArray bytes = hex ? randomBytes(1 << 20, 1) : plainText(256 * 1024, 2, textAlphabet);
    const QByteArray expectedLog = hex ? hexOf(bytes).toLatin1() : bytes;
    const qint64 expectedSize = hex ? expectedLog.size() - 2 * bytes.count('\n') : bytes.size();
    ShownSerialBench bench;
    ModalDialogHelper dialogs;
    QVERIFY(bench.open(hex));
    ResponsivenessProbe probe;
    QElapsedTimer clock;
    clock.start();
    probe.start();
    std::atomic<bool> written { false };
    std::thread device([&] { written = bench.pty.write(bytes); });
    const bool complete = QTest::qWaitFor(
        [&] { return QFileInfo(bench.logPath()).size() >= expectedSize; }, 120000);
    device.join();
    probe.stop();
    qInfo("burst: worst probe lateness %lld ms, %d blocks, %lld ms", probe.worstLatenessMs(),
          bench.received(), clock.elapsed());

    QVERIFY(written);
    QVERIFY(complete);
    QVERIFY2(probe.worstLatenessMs() <= maxLatenessMs,
             qPrintable(QString::number(probe.worstLatenessMs())));
    const QByteArray log = bench.log();
    QVERIFY(hex ? hexFromSerialLog(log) == expectedLog : log == expectedLog);
    // A device that never pauses is shown in blocks of about 4 KiB (a busy machine may make the
    // line look quiet now and then), not in crumbs and not as one endless block.
    QVERIFY2(bench.received() >= bytes.size() / (64 * 1024)
                 && bench.received() <= bytes.size() / 2048,
             qPrintable(QString::number(bench.received())));
    verifyViewIsTailOfLog(bench.console(), QString::fromLatin1(log));
    QCOMPARE(dialogs.count(), 0);
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
    ShownSerialBench bench;
    QVERIFY(bench.open(!periodicSend)); // the command goes out as text, the burst shows in hex
    const QByteArray bytes = randomBytes(1 << 20, 3);
    std::atomic<bool> closed { false };
    std::thread device;
    // Joined however the test ends.
    struct Joiner {
        std::thread &thread;
        ~Joiner()
        {
            if (thread.joinable())
                thread.join();
        }
    } joiner { device };
    QByteArray taken; // what the device read of the periodic send
    if (periodicSend) {
        bench.widget<QSpinBox>("SB_SerialTimerSecond")->setValue(100);
        bench.widget<QLineEdit>("LE_SerialPortCmd")->setText(QStringLiteral("P"));
        bench.widget<QPushButton>("PB_SerialTimerStart")->click();
        QVERIFY(bench.sendTimer()->isActive());
        QTRY_VERIFY((taken += bench.pty.readAvailable()).size() >= 6);
        taken += bench.pty.readAvailable();
        bench.pty.closeMaster();
        closed = true;
    } else {
        device = std::thread([&] {
            bench.pty.write(bytes.left(256 * 1024));
            bench.pty.closeMaster();
            closed = true;
        });
    }

    // The box is left up for a while, as a user would; the process must idle meanwhile. The
    // watch runs inside the box's event loop too.
    std::unique_ptr<ModalDialogHelper> dialogs;
    QString statusAtBox;
    double cpuAtLoss = 0;
    double cpuWhileUp = 0;
    double cpuAtAnswer = 0;
    QElapsedTimer sinceLoss;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        if (!closed || dialogs)
            return;
        if (!sinceLoss.isValid()) {
            sinceLoss.start();
            cpuAtLoss = processCpuSeconds();
        } else if (sinceLoss.elapsed() >= 300) {
            cpuWhileUp = processCpuSeconds() - cpuAtLoss;
            dialogs = std::make_unique<ModalDialogHelper>();
            connect(dialogs.get(), &ModalDialogHelper::answered, this, [&] {
                statusAtBox = bench.status();
                cpuAtAnswer = processCpuSeconds();
            });
        }
    });
    watch.start(5);
    ResponsivenessProbe probe;
    probe.start();
    QTRY_VERIFY_WITH_TIMEOUT(dialogs && dialogs->count() == 1, 30000);
    QTest::qWait(1000);
    const double cpuAfter = processCpuSeconds() - cpuAtAnswer;
    probe.stop();
    if (device.joinable())
        device.join();
    qInfo("CPU %.3f s with the box up for 0.3 s, %.3f s in the second after it; worst probe "
          "lateness %lld ms",
          cpuWhileUp, cpuAfter, probe.worstLatenessMs());

    QCOMPARE(dialogs->titles(), QStringList { "Critical Error" });
    QVERIFY(statusAtBox.startsWith(QLatin1String("Connected to ")));
    QCOMPARE(bench.status(), QStringLiteral("Disconnected"));
    QVERIFY(!bench.port()->isOpen());
    QVERIFY(!bench.sendTimer()->isActive());
    QVERIFY2(cpuWhileUp < 0.1, qPrintable(QString::number(cpuWhileUp)));
    QVERIFY2(cpuAfter < 0.3, qPrintable(QString::number(cpuAfter)));
    QVERIFY2(probe.worstLatenessMs() <= maxLatenessMs,
             qPrintable(QString::number(probe.worstLatenessMs())));

    const QByteArray log = bench.log();
    if (periodicSend) {
        // Every send that was counted was shown and logged, and had reached the device.
        QVERIFY(bench.sent() >= 3);
        QCOMPARE(log, QByteArray("P\n").repeated(bench.sent()));
        QVERIFY(QByteArray("P\n").repeated(bench.sent()).startsWith(taken));
    } else {
        // What had arrived before the loss is shown; nothing is made up or reordered.
        const QByteArray hex = hexFromSerialLog(log);
        QVERIFY(hexOf(bytes.left(256 * 1024)).toLatin1().startsWith(hex));
        qInfo("%lld of %d bytes shown before the loss", qint64(hex.size() / 3), 256 * 1024);
    }
    QCOMPARE(dialogs->count(), 1);
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
    ShownSerialBench bench;
    ModalDialogHelper dialogs;
    if (how != "never") {
        QVERIFY(bench.open(false));
        if (how == "user")
            bench.openButton()->click();
        else
            bench.pty.closeMaster();
        QTRY_COMPARE(bench.status(), QStringLiteral("Disconnected"));
    }
    QVERIFY(!bench.port()->isOpen());
    const int boxes = dialogs.count();
    const QString status = bench.status();

    WarningCounter warnings;
    QTextEdit *console = bench.console();
    for (int round = 0; round < 20; ++round) {
        QTest::keyClicks(console, QStringLiteral("at+x "));
        QKeyEvent accented(QEvent::KeyPress, Qt::Key_Eacute, Qt::NoModifier, QStringLiteral("é"));
        QApplication::sendEvent(console, &accented);
        for (const Qt::Key key : { Qt::Key_Return, Qt::Key_Backspace, Qt::Key_Tab, Qt::Key_Escape,
                                   Qt::Key_F1, Qt::Key_Left, Qt::Key_Down, Qt::Key_Delete })
            QTest::keyClick(console, key);
        QTest::keyClick(console, Qt::Key_C, Qt::ControlModifier);
    }
    QTest::qWait(50);

    QCOMPARE(warnings.count(), 0);
    QCOMPARE(dialogs.count(), boxes);
    QCOMPARE(bench.status(), status);
    QCOMPARE(bench.sent(), 0);
    QCOMPARE(bench.received(), 0);
    QVERIFY(console->toPlainText().isEmpty());
    QVERIFY(bench.log().isEmpty());
    if (how != "lost")
        QCOMPARE(bench.pty.readAvailable(), QByteArray());

    // The port opens as usual afterwards (on a line that is still there).
    if (how != "lost") {
        if (how == "user")
            bench.openButton()->click(); // unchecked by the close: this click opens
        QVERIFY(bench.port()->isOpen() || bench.open(false));
        QTest::keyClicks(console, QStringLiteral("ok"));
        QByteArray line;
        QTRY_COMPARE(line += bench.pty.readAvailable(), QByteArray("ok"));
    }
}

QTEST_MAIN(TestHostileSerial)
#include "tst_hostileserial.moc"
