#include "channelcounters.h"
#include "channelfixture.h"
#include "channellog.h"
#include "rendering.h"
#include "responsiveness.h"
#include "testdata.h"
#include "trafficview.h"
#include "viewchecks.h"

#include <QRandomGenerator>

#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QtTest>

namespace {

// The user's own format, as if typed into the editable view: traffic neither takes nor changes
// it.
void setOwnFormat(QTextEdit *view)
{
    view->setTextColor(Qt::green);
    view->setFontWeight(QFont::Bold);
}

void verifyOwnFormatKept(const QTextEdit *view)
{
    QCOMPARE(view->textColor(), QColor(Qt::green));
    QCOMPARE(view->fontWeight(), int(QFont::Bold));
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
    void pacedViewEqualsOneByOne_data();
    void pacedViewEqualsOneByOne();
    void countsGoWithTheirText_data();
    void countsGoWithTheirText();

private:
    // What arrives and what is sent is shown as it is logged.
    void viewAndLogAgree(int channel);
};

void TrafficViewTest::networkViewAndLogAgree_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<bool>("hexMode");
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QString>("logged");
    QTest::addColumn<QString>("tidied"); // network views show what they log
    QTest::newRow("ascii text runs on") << 1 << false << QByteArray("hello\nwor") << "hello\nwor"
                                        << "";
    QTest::newRow("ascii zero byte as the NUL symbol")
        << 2 << false << QByteArray("A\0B", 3) << "A\u2400B"
        << "";
    QTest::newRow("no serial clean-up")
        << 3 << false << QByteArray("0A x\b \babc\r\r\n") << "0A x\b \babc\r\r\n"
        << "";
    QTest::newRow("hex gives one line per arrival")
        << 2 << true << QByteArray("\x41\x00\xff", 3) << "41 00 FF \n"
        << "";
    QTest::newRow("hex line feed stays digits") << 3 << true << QByteArray("\n") << "0A \n"
                                                << "";
}

void TrafficViewTest::networkViewAndLogAgree()
{
    QFETCH(int, channel);
    viewAndLogAgree(channel);
}

void TrafficViewTest::serialViewAndLogAgree_data()
{
    QTest::addColumn<bool>("hexMode");
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QString>("logged");
    QTest::addColumn<QString>("tidied"); // what the view shows of it, when that differs
    QTest::newRow("hex line feed keeps its pair, then breaks the line")
        << true << QByteArray("H\nI") << "48 0A\n49 "
        << "";
    QTest::newRow("hex carriage return stays digits")
        << true << QByteArray("OK\r\n") << "4F 4B 0D 0A\n"
        << "";
    QTest::newRow("ascii CR CR LF") << false << QByteArray("abc\r\r\n") << "abc\r\r\n"
                                    << "abc\n";
    QTest::newRow("ascii erasure") << false << QByteArray("x\b \b") << "x\b \b"
                                   << "x";
    QTest::newRow("ascii zero byte as the NUL symbol")
        << false << QByteArray("A\0B", 3) << "A\u2400B"
        << "";
    QTest::newRow("ascii 0A text stays text") << false << QByteArray("0a 0A ") << "0a 0A "
                                              << "";
}

void TrafficViewTest::serialViewAndLogAgree()
{
    viewAndLogAgree(serial);
}

void TrafficViewTest::viewAndLogAgree(int channel)
{
    QFETCH(bool, hexMode);
    QFETCH(QByteArray, received);
    QFETCH(QString, logged);
    QFETCH(QString, tidied);
    ChannelFixture fixture;
    QVERIFY(fixture.open(channel, hexMode));

    QVERIFY(fixture.deliver(channel, received));
    QTRY_COMPARE(fixture.log(channel), logged.toLocal8Bit());
    QString shown = tidied.isEmpty() ? logged : tidied;
    QCOMPARE(fixture.shown(channel), shownAs(shown));

    // The view and the log show a command as typed, "0A " and all.
    const QString command = hexMode ? QStringLiteral("0A 54") : QStringLiteral("AT 0A ");
    fixture.send(channel, command);
    logged += command + QLatin1Char('\n');
    shown += command + QLatin1Char('\n');
    QCOMPARE(fixture.shown(channel), shownAs(shown));
    QCOMPARE(fixture.log(channel), logged.toLocal8Bit());

    // Each channel's text reaches its own log only.
    for (int other = 0; other < 4; ++other)
        if (other != channel)
            QCOMPARE(fixture.log(other), QByteArray());
    QCOMPARE(fixture.dialogs.count(), 0);
}

void TrafficViewTest::viewFormatIsRestored()
{
    ChannelFixture fixture;
    QVERIFY(fixture.open(1));
    QTextEdit *view = fixture.view(1);
    setOwnFormat(view);

    fixture.send(1, QStringLiteral("AT"));
    QVERIFY(fixture.deliver(1, "ok"));
    QTRY_COMPARE(view->toPlainText(), QStringLiteral("AT\nok"));
    const QList<QPair<int, QColor>> expected {
        { 0, Qt::red }, { 1, Qt::red }, { 3, Qt::black }, { 4, Qt::black }
    };
    for (const auto &[position, colour] : expected) {
        QCOMPARE(formatAt(view, position).foreground().color(), colour);
        QCOMPARE(formatAt(view, position).fontWeight(), int(QFont::Normal));
    }
    verifyOwnFormatKept(view);
}

void TrafficViewTest::blockLimitKeepsLogComplete()
{
    ChannelFixture fixture;
    QVERIFY(fixture.connectNetwork(3));
    QByteArray expectedLog;
    for (int i = 1; i <= 150; ++i) {
        fixture.send(3, QStringLiteral("line %1").arg(i));
        expectedLog += "line " + QByteArray::number(i) + '\n';
    }
    QTextDocument *document = fixture.view(3)->document();
    QCOMPARE(document->blockCount(), 100);
    QCOMPARE(document->firstBlock().text(), QStringLiteral("line 52"));
    QVERIFY(document->toPlainText().endsWith(QStringLiteral("line 150\n")));
    QCOMPARE(fixture.log(3), expectedLog);
}

void TrafficViewTest::largeArrivalShowsItsLastParagraphs()
{
    // An arrival with more lines than the view keeps replaces everything in one go; the view
    // must look exactly as if all of it had been inserted and trimmed.
    ChannelFixture fixture;
    QVERIFY(fixture.open(2));
    QTextEdit *view = fixture.view(2);
    setOwnFormat(view);
    fixture.send(2, QStringLiteral("AT"));

    QByteArray flood;
    for (int i = 1; i <= 250; ++i)
        flood += "reply " + QByteArray::number(i) + "\r\n";
    QVERIFY(fixture.deliver(2, flood));
    QTRY_COMPARE(fixture.log(2), "AT\n" + flood);

    QTextDocument *document = view->document();
    QTRY_COMPARE(document->lastBlock().previous().text(), QStringLiteral("reply 250"));
    QCOMPARE(document->blockCount(), 100);
    QCOMPARE(document->firstBlock().text(), QStringLiteral("reply 152"));
    for (int position : { 0, 5, document->characterCount() - 3 }) {
        QCOMPARE(formatAt(view, position).foreground().color(), QColor(Qt::black));
        QCOMPARE(formatAt(view, position).fontWeight(), int(QFont::Normal));
    }
    verifyOwnFormatKept(view);
    QCOMPARE(view->verticalScrollBar()->value(), view->verticalScrollBar()->maximum());
}

void TrafficViewTest::clearKeepsLog()
{
    ChannelFixture fixture;
    QVERIFY(fixture.connectNetwork(2));
    fixture.send(2, QStringLiteral("one"));
    fixture.press(2, ChannelFixture::Button::Clear);
    QVERIFY(fixture.shown(2).isEmpty());
    QCOMPARE(fixture.log(2), QByteArray("one\n"));

    fixture.send(2, QStringLiteral("two"));
    QCOMPARE(fixture.shown(2), QStringLiteral("two\n"));
    QCOMPARE(fixture.log(2), QByteArray("one\ntwo\n"));
}

void TrafficViewTest::insertsAtCursorAndScrollsToEnd()
{
    ChannelFixture fixture;
    QVERIFY(fixture.show());
    QVERIFY(fixture.open(1));
    for (int i = 0; i < 60; ++i)
        fixture.send(1, QStringLiteral("filler"));
    QTextEdit *view = fixture.view(1);
    QScrollBar *bar = view->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);

    // As if the user clicked at the top: a click shows first what is still waiting.
    fixture.view(1)->moveCursor(QTextCursor::Start);
    bar->setValue(0);
    QVERIFY(fixture.deliver(1, "X"));
    QTRY_VERIFY(view->toPlainText().startsWith(QLatin1Char('X')));
    QCOMPARE(bar->value(), bar->maximum());
}

namespace {

// Everything a view shows: each run of text with its colour and weight, and the cursor.
QStringList viewContents(const QTextEdit *view)
{
    QStringList runs;
    for (QTextBlock block = view->document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it)
            runs << QStringLiteral("%1|%2|%3")
                        .arg(it.fragment().text(),
                             it.fragment().charFormat().foreground().color().name())
                        .arg(it.fragment().charFormat().fontWeight());
        runs << QStringLiteral("<paragraph>");
    }
    runs << QStringLiteral("cursor %1").arg(view->textCursor().position());
    return runs;
}

// Arrivals of every shape the channels produce: short and long, hex pairs, CR LF pairs that
// two arrivals may split, lines longer than a view shows in one paragraph, surrogate pairs. Or
// only short lines, each in an arrival of its own, as a device or a server answers.
QString randomPiece(QRandomGenerator &random, bool linesOnly)
{
    if (linesOnly)
        return QString::fromUtf8(plainText(random.bounded(1, 60), random.generate(), plainAlphabet))
            + QLatin1Char('\n');
    switch (random.bounded(6)) {
    case 0:
        return QStringLiteral("\r");
    case 1:
        return QStringLiteral("\n");
    case 2:
        return QString::fromUtf8(randomText(random.bounded(1, 40), random.generate(), true));
    case 3:
        return hexOf(randomBytes(random.bounded(1, 3000), random.generate())) + QLatin1Char('\n');
    case 4:
        return QString::fromUtf8(plainText(random.bounded(3000, 12000), random.generate(),
                                           plainAlphabet + "\r\n"))
            + QString::fromUtf8("\xf0\x9f\x98\x80");
    default:
        return QString::fromUtf8(plainText(random.bounded(1, 200), random.generate(), "x\n"));
    }
}

// What the screen shows of the view is what drawing it afresh gives: no line is left where an
// earlier frame had it. Drawn again at every look: Qt may still be laying out the last edit.
void verifyScreenShowsView(QTextEdit *view)
{
    QWidget *viewport = view->viewport();
    const QPoint at = viewport->mapTo(view->window(), QPoint());
    auto drawn = [&] { return viewport->grab().toImage().convertToFormat(QImage::Format_RGB32); };
    auto onScreen = [&] {
        return view->screen()
            ->grabWindow(view->window()->winId(), at.x(), at.y(), viewport->width(),
                         viewport->height())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    };
    // Asked again as soon as a frame may have been painted.
    loopUntil([&] { return onScreen() == drawn(); });
    QCOMPARE(onScreen(), drawn());
}

} // namespace

void TrafficViewTest::pacedViewEqualsOneByOne_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("maxBlocks");
    QTest::addColumn<bool>("linesOnly");
    // Two paragraphs: a batch often holds far more text than survives.
    for (quint32 seed = 1; seed <= 8; ++seed) {
        const int maxBlocks = seed > 6 ? 2 : seed % 3 == 0 ? 0 : seed % 3 == 1 ? 100 : 7;
        QTest::addRow("seed %u, %d paragraphs", seed, maxBlocks) << seed << maxBlocks << false;
    }
    // A full view that keeps scrolling by a line or two.
    QTest::addRow("seed 9, 20 paragraphs, lines") << 9u << 20 << true;
}

void TrafficViewTest::pacedViewEqualsOneByOne()
{
    // The reference is shown every piece at once, as the view did before it was paced by
    // frames; the paced view gets whole frames of them at a time, and both must look alike
    // whatever the user did in between.
    QFETCH(quint32, seed);
    QFETCH(int, maxBlocks);
    QFETCH(bool, linesOnly);
    QRandomGenerator random(seed);
    QTextEdit pacedEdit;
    QTextEdit referenceEdit;
    for (QTextEdit *edit : { &pacedEdit, &referenceEdit }) {
        edit->document()->setMaximumBlockCount(maxBlocks);
        edit->resize(400, 300);
        // Unfocused, as a view usually is while traffic comes in: no caret is drawn.
        edit->setFocusPolicy(Qt::NoFocus);
        edit->show();
        setOwnFormat(edit);
    }
    QVERIFY(QTest::qWaitForWindowExposed(&pacedEdit));
    // The reference is laid out in full at every piece: on the paced view's budget it would hold
    // the paced one back for as long as a slow build takes to lay it out.
    LayoutBudget budget;
    LayoutBudget referenceBudget;
    TrafficView paced(&pacedEdit, budget);
    TrafficView reference(&referenceEdit, referenceBudget);

    const QColor colours[] = { Qt::black, Qt::red, Qt::blue };
    for (int step = 0; step < 120; ++step) {
        const int action = random.bounded(100);
        if (action < 80) {
            const QString piece = randomPiece(random, linesOnly);
            const QColor colour = colours[random.bounded(3)];
            paced.append(piece, colour);
            reference.append(piece, colour);
            reference.catchUp();
        } else if (action < 85) {
            paced.clear();
            reference.clear();
        } else if (action < 93) {
            // The user puts the cursor somewhere: what arrived before is in the view by then.
            const bool pending = paced.hasPending();
            QTest::mouseClick(pacedEdit.viewport(), Qt::LeftButton, {}, QPoint(2, 2));
            QVERIFY(!paced.hasPending() || !pending);
            // A view that scrolls along has its cursor at the end.
            const int characters = referenceEdit.document()->characterCount();
            const int at = linesOnly ? characters - 1 : random.bounded(characters);
            for (QTextEdit *edit : { &pacedEdit, &referenceEdit }) {
                QTextCursor cursor(edit->document());
                cursor.setPosition(at);
                edit->setTextCursor(cursor);
            }
        } else {
            // Frames pass, as many as a slow build needs.
            QVERIFY(loopUntil([&] { return !paced.hasPending(); }, 60000));
        }
        if (action >= 80) {
            paced.catchUp();
            QCOMPARE(viewContents(&pacedEdit), viewContents(&referenceEdit));
            // As in the window, whose views keep 100 paragraphs.
            if (maxBlocks > 0)
                verifyScreenShowsView(&pacedEdit);
        }
    }
    // A flood between two updates is held only as far as the view could show it. Lines that
    // fill whole paragraphs push out all that came before them, so the reference needs only
    // its last few.
    const QString line = QString(maxDisplayParagraph, QLatin1Char('x')) + QLatin1Char('\n');
    const int flood = maxBlocks > 0 && pacedEdit.textCursor().atEnd() ? 4 * maxBlocks + 50 : 0;
    for (int i = 0; i < flood; ++i) {
        paced.append(line, Qt::black);
        if (i >= flood - maxBlocks - 1)
            reference.append(line, Qt::black);
    }
    QVERIFY2(paced.pendingChars() < 3 * (maxBlocks + 2) * line.size(),
             qPrintable(QString::number(paced.pendingChars())));
    reference.catchUp();
    paced.catchUp();
    QCOMPARE(viewContents(&pacedEdit), viewContents(&referenceEdit));
}

namespace {

// The number of the last line whose end the view shows: lines read "xxx=N;", and a view breaks
// a long one into paragraphs of its own and keeps only the last of them.
int lastLineEnded(const QTextEdit *view)
{
    const QString shown = view->toPlainText().remove(QLatin1Char('\n'));
    const int end = shown.lastIndexOf(QLatin1Char(';'));
    if (end < 0)
        return 0;
    const int number = shown.lastIndexOf(QLatin1Char('='), end) + 1;
    return shown.mid(number, end - number).toInt();
}

} // namespace

void TrafficViewTest::countsGoWithTheirText_data()
{
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("loopBetween"); // the event loop runs after each line
    QTest::addColumn<int>("clearAt"); // 0: never
    QTest::addColumn<int>("maxChanges"); // of the RECV field: a flood is shown in a few steps
    QTest::newRow("lines one by one") << 5 << 10 << true << 0 << 5;
    QTest::newRow("a flood of short lines, most pushed out") << 3000 << 40 << false << 0 << 30;
    QTest::newRow("long lines, taken in a piece at a time") << 60 << 30000 << false << 0 << 20;
    QTest::newRow("Clear in the middle of a flood") << 3000 << 40 << false << 1500 << 60;
}

// Whenever a count changes, the end of the line it counts is in the view, and the end of no later
// line: whatever the pace, a counter is never ahead of its view, nor behind it once it is in.
void TrafficViewTest::countsGoWithTheirText()
{
    QFETCH(int, lines);
    QFETCH(int, length);
    QFETCH(bool, loopBetween);
    QFETCH(int, clearAt);
    QFETCH(int, maxChanges);
    QTextEdit edit;
    edit.document()->setMaximumBlockCount(100);
    edit.resize(400, 300);
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    QLineEdit sentField;
    QLineEdit receivedField;
    LayoutBudget budget;
    TrafficView view(&edit, budget);
    ChannelCounters counters(&sentField, &receivedField, view);
    int received = 0;
    QStringList wrong;
    int changes = 0;
    connect(&receivedField, &QLineEdit::textChanged, this, [&](const QString &count) {
        ++changes;
        if (count.toInt() != lastLineEnded(&edit))
            wrong << QStringLiteral("%1 beside %2").arg(count).arg(lastLineEnded(&edit));
    });

    for (int line = 1; line <= lines; ++line) {
        if (line == clearAt) {
            view.clear();
            received = 0;
            counters.countsChanged({ 0, received });
        }
        const int number = clearAt && line >= clearAt ? line - clearAt + 1 : line;
        view.append(QStringLiteral("%1=%2;\n").arg(QString(length, QLatin1Char('x'))).arg(number),
                    Qt::black);
        counters.countsChanged({ 0, ++received });
        if (loopBetween)
            QVERIFY(loopUntil([&] { return !view.hasPending(); }));
    }
    QVERIFY(loopUntil([&] { return !view.hasPending(); }));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral(", "))));
    QCOMPARE(receivedField.text(), QString::number(received));
    QCOMPARE(lastLineEnded(&edit), received);
    QVERIFY2(changes <= maxChanges, qPrintable(QString::number(changes)));
}

QTEST_MAIN(TrafficViewTest)
#include "tst_trafficview.moc"
