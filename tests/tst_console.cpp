#include "console.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMetaMethod>
#include <QSignalSpy>
#include <QTextBlock>
#include <QTimer>
#include <QVBoxLayout>
#include <QtTest>

class ConsoleTest : public QObject {
    Q_OBJECT

private slots:
    void signalsInMetaObjectOrder();
    void keepsTheLastHundredBlocks();
    void keyPress_data();
    void keyPress();
    void clickFocusesWithoutMovingCursor();
    void doubleClickSelectsNothing();
    void noContextMenu();
};

void ConsoleTest::signalsInMetaObjectOrder()
{
    const QMetaObject &meta = Console::staticMetaObject;
    QCOMPARE(meta.className(), "Console");
    QCOMPARE(meta.methodCount() - meta.methodOffset(), 2);
    const QMetaMethod getData = meta.method(meta.methodOffset());
    const QMetaMethod getKey = meta.method(meta.methodOffset() + 1);
    QCOMPARE(getData.methodSignature(), QByteArray("getData(QByteArray)"));
    QCOMPARE(getData.parameterNames(), QByteArrayList { "data" });
    QCOMPARE(getKey.methodSignature(), QByteArray("getKey(int)"));
    QCOMPARE(getKey.parameterNames(), QByteArrayList { "key" });
    QCOMPARE(getData.methodType(), QMetaMethod::Signal);
    QCOMPARE(getKey.methodType(), QMetaMethod::Signal);
}

void ConsoleTest::keepsTheLastHundredBlocks()
{
    Console console;
    QCOMPARE(console.document()->maximumBlockCount(), 100);
    for (int i = 0; i < 150; ++i)
        console.append(QStringLiteral("line %1").arg(i));
    QCOMPARE(console.document()->blockCount(), 100);
    QCOMPARE(console.document()->firstBlock().text(), QStringLiteral("line 50"));
    QCOMPARE(console.document()->lastBlock().text(), QStringLiteral("line 149"));
}

void ConsoleTest::keyPress_data()
{
    QTest::addColumn<QString>("view");
    QTest::addColumn<int>("cursor"); // -1: at the end
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("keyText");
    QTest::addColumn<QByteArrayList>("emitted");
    QTest::addColumn<QString>("viewAfter");
    QTest::addColumn<int>("focusMove"); // -1: to the control before the view, 1: after it

    const int none = Qt::NoModifier;
    const QByteArrayList nothing;
    const QByteArrayList backspace { "\x08" };
    QTest::newRow("letter A is sent, not echoed")
        << "> " << -1 << int(Qt::Key_A) << int(Qt::ShiftModifier) << "A" << QByteArrayList { "A" }
        << "> " << 0;
    QTest::newRow("backspace at the prompt")
        << "login> " << -1 << int(Qt::Key_Backspace) << none << "\x08" << nothing << "login> " << 0;
    QTest::newRow("backspace after the prompt")
        << "> ls" << -1 << int(Qt::Key_Backspace) << none << "\x08" << backspace << "> l" << 0;
    QTest::newRow("backspace after an earlier prompt")
        << "> ls\n> x" << -1 << int(Qt::Key_Backspace) << none << "\x08" << backspace << "> ls\n> "
        << 0;
    QTest::newRow("backspace without prompt")
        << "abc" << -1 << int(Qt::Key_Backspace) << none << "\x08" << backspace << "ab" << 0;
    QTest::newRow("backspace on a single character")
        << "a" << -1 << int(Qt::Key_Backspace) << none << "\x08" << nothing << "a" << 0;
    QTest::newRow("backspace on an empty view")
        << "" << -1 << int(Qt::Key_Backspace) << none << "\x08" << backspace << "" << 0;

    // The cursor sits inside the text, where every arrow would move it in a plain text edit.
    const QString lines = QStringLiteral("ab\ncd\nef");
    QTest::newRow("left") << lines << 4 << int(Qt::Key_Left) << none << "" << nothing << lines << 0;
    QTest::newRow("up") << lines << 4 << int(Qt::Key_Up) << none << "" << nothing << lines << 0;
    QTest::newRow("right") << lines << 4 << int(Qt::Key_Right) << none << "" << nothing << lines
                           << 0;
    QTest::newRow("down") << lines << 4 << int(Qt::Key_Down) << none << "" << nothing << lines << 0;

    QTest::newRow("return") << "> " << -1 << int(Qt::Key_Return) << none << "\r"
                            << QByteArrayList { "\r" } << "> " << 0;
    QTest::newRow("tab") << "> " << -1 << int(Qt::Key_Tab) << none << "\t"
                         << QByteArrayList { "\t" } << "> " << 0;
    QTest::newRow("ctrl+c") << "> " << -1 << int(Qt::Key_C) << int(Qt::ControlModifier) << "\x03"
                            << QByteArrayList { "\x03" } << "> " << 0;
    QTest::newRow("F1 without text")
        << "> " << -1 << int(Qt::Key_F1) << none << "" << QByteArrayList { "" } << "> " << 0;
    QTest::newRow("shift alone") << "> " << -1 << int(Qt::Key_Shift) << int(Qt::ShiftModifier) << ""
                                 << QByteArrayList { "" } << "> " << 0;

    // The only keys that never reach the device: the way out of the view.
    const int control = Qt::ControlModifier;
    const int controlShift = Qt::ControlModifier | Qt::ShiftModifier;
    QTest::newRow("ctrl+tab moves to the next control")
        << "> " << -1 << int(Qt::Key_Tab) << control << "\t" << nothing << "> " << 1;
    QTest::newRow("ctrl+shift+tab moves to the previous control")
        << "> " << -1 << int(Qt::Key_Backtab) << controlShift << "" << nothing << "> " << -1;
    QTest::newRow("ctrl+shift+tab reported as tab moves to the previous control")
        << "> " << -1 << int(Qt::Key_Tab) << controlShift << "\t" << nothing << "> " << -1;
    QTest::newRow("ctrl+backtab moves to the previous control")
        << "> " << -1 << int(Qt::Key_Backtab) << control << "" << nothing << "> " << -1;
}

void ConsoleTest::keyPress()
{
    QFETCH(QString, view);
    QFETCH(int, cursor);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, keyText);
    QFETCH(QByteArrayList, emitted);
    QFETCH(QString, viewAfter);
    QFETCH(int, focusMove);

    // Shown between two other controls, so that the focus has somewhere to go.
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    QWidget *const controls[]
        = { new QLineEdit(&window), new Console(&window), new QLineEdit(&window) };
    for (QWidget *control : controls)
        layout->addWidget(control);
    Console &console = *static_cast<Console *>(controls[1]);
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    console.setFocus();
    QTRY_VERIFY(console.hasFocus());

    console.setPlainText(view);
    QTextCursor textCursor = console.textCursor();
    if (cursor < 0)
        textCursor.movePosition(QTextCursor::End);
    else
        textCursor.setPosition(cursor);
    console.setTextCursor(textCursor);
    const int positionBefore = console.textCursor().position();
    QSignalSpy data(&console, &Console::getData);

    QKeyEvent event(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers), keyText);
    QApplication::sendEvent(&console, &event);

    QByteArrayList sent;
    for (const QList<QVariant> &arguments : data)
        sent << arguments.at(0).toByteArray();
    QCOMPARE(sent, emitted);
    QCOMPARE(console.toPlainText(), viewAfter);
    if (view == viewAfter)
        QCOMPARE(console.textCursor().position(), positionBefore);
    QVERIFY(event.isAccepted()); // handled here, never passed on to the parent
    QTRY_COMPARE(QApplication::focusWidget(), controls[1 + focusMove]);
}

void ConsoleTest::clickFocusesWithoutMovingCursor()
{
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *other = new QLineEdit(&window);
    auto *console = new Console(&window);
    layout->addWidget(other);
    layout->addWidget(console);
    console->setPlainText(QStringLiteral("first line\nsecond line"));
    console->moveCursor(QTextCursor::End);
    const int end = console->textCursor().position();
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    other->setFocus();
    QTRY_VERIFY(other->hasFocus());

    QTest::mouseClick(console->viewport(), Qt::LeftButton, {}, QPoint(3, 3));
    QTRY_VERIFY(console->hasFocus());
    QCOMPARE(console->textCursor().position(), end);
    QVERIFY(!console->textCursor().hasSelection());
}

void ConsoleTest::doubleClickSelectsNothing()
{
    Console console;
    console.setPlainText(QStringLiteral("word another"));
    console.moveCursor(QTextCursor::End);
    console.show();
    QVERIFY(QTest::qWaitForWindowExposed(&console));
    QTest::mouseDClick(console.viewport(), Qt::LeftButton, {}, QPoint(8, 8));
    QVERIFY(!console.textCursor().hasSelection());
    QCOMPARE(console.textCursor().position(), console.toPlainText().size());
}

void ConsoleTest::noContextMenu()
{
    Console console;
    console.setPlainText(QStringLiteral("text"));
    console.show();
    QVERIFY(QTest::qWaitForWindowExposed(&console));
    // A standard context menu would run its own loop: this shot ends it and tells.
    bool checked = false;
    bool menuShown = false;
    QTimer::singleShot(0, this, [&] {
        if (QWidget *popup = QApplication::activePopupWidget()) {
            menuShown = true;
            popup->close();
        }
        checked = true;
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                            console.viewport()->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(console.viewport(), &event);
    QTRY_VERIFY(checked);
    QVERIFY(!menuShown);
    QVERIFY(console.findChildren<QMenu *>().isEmpty());
}

QTEST_MAIN(ConsoleTest)
#include "tst_console.moc"
