#include "mainwindow.h"
#include "modaldialoghelper.h"
#include "pty.h"
#include "testenvironment.h"
#include "windowbench.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSerialPort>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextBlock>
#include <QTextEdit>
#include <QtTest>

namespace {

using Bench = WindowBench;

// A view shows a carriage return, alone or before a line feed, as one paragraph break; the log
// keeps the character.
QString shownAs(QString logged)
{
    return logged.replace(QLatin1String("\r\n"), QLatin1String("\n"))
        .replace(QLatin1Char('\r'), QLatin1Char('\n'));
}

QTextCharFormat formatAt(const QTextEdit *view, int position)
{
    QTextCursor cursor(view->document());
    cursor.setPosition(position + 1);
    return cursor.charFormat();
}

} // namespace

class TrafficViewTest : public QObject {
    Q_OBJECT

private slots:
    void networkViewAndLogAgree_data();
    void networkViewAndLogAgree();
    void serialViewAndLogAgree_data();
    void serialViewAndLogAgree();
    void viewFormatIsRestored();
    void blockLimitKeepsLogComplete();
    void largeArrivalShowsItsLastParagraphs();
    void clearKeepsLog();
    void insertsAtCursorAndScrollsToEnd();
};

void TrafficViewTest::networkViewAndLogAgree_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<bool>("hexMode");
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QString>("logged");
    QTest::newRow("ascii text runs on") << 1 << false << QByteArray("hello\nwor") << "hello\nwor";
    QTest::newRow("ascii zero byte as the NUL symbol")
        << 2 << false << QByteArray("A\0B", 3) << "A\u2400B";
    QTest::newRow("no serial clean-up")
        << 3 << false << QByteArray("0A x\b \babc\r\r\n") << "0A x\b \babc\r\r\n";
    QTest::newRow("hex gives one line per arrival")
        << 2 << true << QByteArray("\x41\x00\xff", 3) << "41 00 FF \n";
    QTest::newRow("hex line feed stays digits") << 3 << true << QByteArray("\n") << "0A \n";
}

void TrafficViewTest::networkViewAndLogAgree()
{
    QFETCH(int, channel);
    QFETCH(bool, hexMode);
    QFETCH(QByteArray, received);
    QFETCH(QString, logged);
    Bench bench;
    QTcpSocket *peer = bench.connectNetwork(channel);
    QVERIFY(peer);
    const QString name = QStringLiteral("Network%1").arg(channel);
    const QString suffix = QStringLiteral("-network%1.txt").arg(channel);
    if (hexMode)
        bench.widget<QRadioButton>("RB_" + name + "Hex")->click();

    peer->write(received);
    QTRY_COMPARE(bench.view(name)->toPlainText(), shownAs(logged));
    QCOMPARE(bench.log(suffix), logged.toLocal8Bit());

    // The view shows a hex command as typed.
    const QString command = hexMode ? QStringLiteral("41 54") : QStringLiteral("AT");
    bench.send(name, command);
    logged += command + QLatin1Char('\n');
    QCOMPARE(bench.view(name)->toPlainText(), shownAs(logged));
    QCOMPARE(bench.log(suffix), logged.toLocal8Bit());

    // Each channel's text reaches its own log only.
    for (const char *other : { "-serial.txt", "-network1.txt", "-network2.txt", "-network3.txt" })
        if (QLatin1String(other) != suffix)
            QCOMPARE(bench.log(QLatin1String(other)), QByteArray());
    QCOMPARE(bench.helper.count(), 0);
}

void TrafficViewTest::serialViewAndLogAgree_data()
{
    QTest::addColumn<bool>("hexMode");
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QString>("logged");
    QTest::newRow("hex line feed breaks the line") << true << QByteArray("H\nI") << "48 \n49 ";
    QTest::newRow("hex carriage return stays digits")
        << true << QByteArray("OK\r\n") << "4F 4B 0D \n";
    QTest::newRow("ascii CR CR LF") << false << QByteArray("abc\r\r\n") << "abc\n";
    QTest::newRow("ascii erasure") << false << QByteArray("x\b \b") << "x";
    QTest::newRow("ascii zero byte as the NUL symbol")
        << false << QByteArray("A\0B", 3) << "A\u2400B";
    QTest::newRow("ascii 0A text breaks the line too") << false << QByteArray("0a 0A ") << "0a \n";
}

void TrafficViewTest::serialViewAndLogAgree()
{
    QFETCH(bool, hexMode);
    QFETCH(QByteArray, received);
    QFETCH(QString, logged);
    Bench bench;
    QVERIFY(bench.openSerial());
    if (hexMode)
        bench.widget<QRadioButton>("RB_SerialHex")->click();

    QVERIFY(bench.pty.write(received));
    QTRY_COMPARE(bench.log("-serial.txt"), logged.toLocal8Bit());
    QCOMPARE(bench.view("SerialPort")->toPlainText(), shownAs(logged));

    const QString command = hexMode ? QStringLiteral("41 54") : QStringLiteral("AT");
    bench.send("SerialPort", command);
    logged += command + QLatin1Char('\n');
    QCOMPARE(bench.log("-serial.txt"), logged.toLocal8Bit());
    QCOMPARE(bench.view("SerialPort")->toPlainText(), shownAs(logged));
    QCOMPARE(bench.helper.count(), 0);
}

void TrafficViewTest::viewFormatIsRestored()
{
    Bench bench;
    QTcpSocket *peer = bench.connectNetwork(1);
    QVERIFY(peer);
    QTextEdit *view = bench.view("Network1");
    // The user's own format, as if typed into the editable view.
    view->setTextColor(Qt::green);
    view->setFontWeight(QFont::Bold);

    bench.send("Network1", QStringLiteral("AT"));
    peer->write("ok");
    QTRY_COMPARE(view->toPlainText(), QStringLiteral("AT\nok"));
    const QList<QPair<int, QColor>> expected {
        { 0, Qt::red }, { 1, Qt::red }, { 3, Qt::black }, { 4, Qt::black }
    };
    for (const auto &[position, colour] : expected) {
        QCOMPARE(formatAt(view, position).foreground().color(), colour);
        QCOMPARE(formatAt(view, position).fontWeight(), int(QFont::Normal));
    }
    QCOMPARE(view->textColor(), QColor(Qt::green));
    QCOMPARE(view->fontWeight(), int(QFont::Bold));
}

void TrafficViewTest::blockLimitKeepsLogComplete()
{
    Bench bench;
    QVERIFY(bench.connectNetwork(3));
    QByteArray expectedLog;
    for (int i = 1; i <= 150; ++i) {
        bench.send("Network3", QStringLiteral("line %1").arg(i));
        expectedLog += "line " + QByteArray::number(i) + '\n';
    }
    QTextDocument *document = bench.view("Network3")->document();
    QCOMPARE(document->blockCount(), 100);
    QCOMPARE(document->firstBlock().text(), QStringLiteral("line 52"));
    QVERIFY(document->toPlainText().endsWith(QStringLiteral("line 150\n")));
    QCOMPARE(bench.log("-network3.txt"), expectedLog);
}

void TrafficViewTest::largeArrivalShowsItsLastParagraphs()
{
    // An arrival with more lines than the view keeps replaces everything in one go; the view
    // must look exactly as if all of it had been inserted and trimmed.
    Bench bench;
    QTcpSocket *peer = bench.connectNetwork(2);
    QVERIFY(peer);
    QTextEdit *view = bench.view("Network2");
    view->setTextColor(Qt::green);
    view->setFontWeight(QFont::Bold);
    bench.send("Network2", QStringLiteral("AT"));

    QByteArray flood;
    for (int i = 1; i <= 250; ++i)
        flood += "reply " + QByteArray::number(i) + "\r\n";
    peer->write(flood);
    QTRY_COMPARE(bench.log("-network2.txt"), "AT\n" + flood);

    QTextDocument *document = view->document();
    QTRY_COMPARE(document->lastBlock().previous().text(), QStringLiteral("reply 250"));
    QCOMPARE(document->blockCount(), 100);
    QCOMPARE(document->firstBlock().text(), QStringLiteral("reply 152"));
    for (int position : { 0, 5, document->characterCount() - 3 }) {
        QCOMPARE(formatAt(view, position).foreground().color(), QColor(Qt::black));
        QCOMPARE(formatAt(view, position).fontWeight(), int(QFont::Normal));
    }
    QCOMPARE(view->textColor(), QColor(Qt::green));
    QCOMPARE(view->fontWeight(), int(QFont::Bold));
    QCOMPARE(view->verticalScrollBar()->value(), view->verticalScrollBar()->maximum());
}

void TrafficViewTest::clearKeepsLog()
{
    Bench bench;
    QVERIFY(bench.connectNetwork(2));
    bench.send("Network2", QStringLiteral("one"));
    bench.widget<QPushButton>("PB_ClearNetwork2")->click();
    QVERIFY(bench.view("Network2")->toPlainText().isEmpty());
    QCOMPARE(bench.log("-network2.txt"), QByteArray("one\n"));

    bench.send("Network2", QStringLiteral("two"));
    QCOMPARE(bench.view("Network2")->toPlainText(), QStringLiteral("two\n"));
    QCOMPARE(bench.log("-network2.txt"), QByteArray("one\ntwo\n"));
}

void TrafficViewTest::insertsAtCursorAndScrollsToEnd()
{
    Bench bench;
    bench.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bench.window));
    QTcpSocket *peer = bench.connectNetwork(1);
    QVERIFY(peer);
    for (int i = 0; i < 60; ++i)
        bench.send("Network1", QStringLiteral("filler"));
    QTextEdit *view = bench.view("Network1");
    QScrollBar *bar = view->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);

    view->moveCursor(QTextCursor::Start); // as if the user clicked at the top
    bar->setValue(0);
    peer->write("X");
    QTRY_VERIFY(view->toPlainText().startsWith(QLatin1Char('X')));
    QCOMPARE(bar->value(), bar->maximum());

    // Typing does not change the record, and Tab moves on to the command line.
    bench.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&bench.window));
    const QString before = view->toPlainText();
    view->setFocus();
    QTest::keyClicks(view, QStringLiteral("typed"));
    QTest::keyClick(view, Qt::Key_Tab);
    QCOMPARE(view->toPlainText(), before);
    QTRY_COMPARE(QApplication::focusWidget(), bench.widget<QLineEdit>("LE_Network1Cmd"));
}

QTEST_MAIN(TrafficViewTest)
#include "tst_trafficview.moc"
