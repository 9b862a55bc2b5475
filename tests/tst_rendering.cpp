#include "encoding.h"
#include "rendering.h"

#include <QTextCursor>
#include <QTextDocument>
#include <QtTest>

class RenderingTest : public QObject {
    Q_OBJECT

private slots:
    void hexRenderingOfEveryByte();
    void hexRendering_data();
    void hexRendering();
    void textRendering_data();
    void textRendering();
    void textAcrossArrivals_data();
    void textAcrossArrivals();
    void serialCleanup_data();
    void serialCleanup();
    void encodeCommand_data();
    void encodeCommand();
    void displayBreaks_data();
    void displayBreaks();
    void survivingTail_data();
    void survivingTail();
};

void RenderingTest::hexRenderingOfEveryByte()
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    const QString text = ::hexRendering(all);
    QCOMPARE(text.size(), 3 * 256);
    for (int b = 0; b < 256; ++b)
        QCOMPARE(text.mid(3 * b, 3), QString::asprintf("%02X ", b));
}

void RenderingTest::hexRendering_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("serial"); // the serial view's rendering, when it differs
    QTest::newRow("nothing") << QByteArray() << QString() << QString();
    QTest::newRow("high bytes not sign-extended")
        << QByteArray("\x01\x7f\xab\xff", 4) << QStringLiteral("01 7F AB FF ") << QString();
    QTest::newRow("zero and line feed are plain digits")
        << QByteArray("\x48\x00\x0a", 3) << QStringLiteral("48 00 0A ")
        << QStringLiteral("48 00 0A\n");
    QTest::newRow("every line feed keeps its pair")
        << QByteArray("\x01\x0a\x0a\x02\x0d\x0a") << QStringLiteral("01 0A 0A 02 0D 0A ")
        << QStringLiteral("01 0A\n0A\n02 0D 0A\n");
}

void RenderingTest::hexRendering()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QFETCH(QString, serial);
    QCOMPARE(::hexRendering(bytes), expected);
    QCOMPARE(::serialHexRendering(bytes), serial.isEmpty() ? expected : serial);
}

void RenderingTest::textRendering_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain text with line ends") << QByteArray("OK\r\n") << QStringLiteral("OK\r\n");
    QTest::newRow("zero byte shows as the NUL symbol, the rest follows")
        << QByteArray("A\0B", 3) << QStringLiteral("A\u2400B");
    QTest::newRow("leading and repeated zero bytes")
        << QByteArray("\0A\0\0", 4) << QStringLiteral("\u2400A\u2400\u2400");
    QTest::newRow("utf-8 sequence") << QByteArray("caf\xc3\xa9") << QStringLiteral("caf\u00e9");
    QTest::newRow("malformed utf-8") << QByteArray("a\xff"
                                                   "b")
                                     << QStringLiteral("a\ufffd"
                                                       "b");
    QTest::newRow("truncated utf-8 sequence") << QByteArray("x\xc3") << QStringLiteral("x\ufffd");
}

void RenderingTest::textRendering()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QCOMPARE(::textRendering(bytes), expected);
}

void RenderingTest::textAcrossArrivals_data()
{
    QTest::addColumn<QByteArrayList>("arrivals");
    QTest::addColumn<QStringList>("shown"); // per arrival, then what the end of the run shows
    QTest::newRow("two-byte character split")
        << QByteArrayList { "caf\xc3", "\xa9!" } << QStringList { "caf", "\u00e9!", "" };
    QTest::newRow("four-byte character over three arrivals")
        << QByteArrayList { "\xf0\x9f", "\x98", "\x80" }
        << QStringList { "", "", "\U0001F600", "" };
    QTest::newRow("unfinished at the end shows one replacement")
        << QByteArrayList { "x\xe2\x82" } << QStringList { "x", "\ufffd" };
    QTest::newRow("invalid bytes are not held back") << QByteArrayList { "a\xff",
                                                                         "\x80"
                                                                         "b" }
                                                     << QStringList { "a\ufffd", "\ufffdb", "" };
    QTest::newRow("a held byte that the next arrival does not continue")
        << QByteArrayList { "\xc3", "A" } << QStringList { "", "\ufffdA", "" };
}

void RenderingTest::textAcrossArrivals()
{
    QFETCH(QByteArrayList, arrivals);
    QFETCH(QStringList, shown);
    ReceivedText text;
    QStringList actual;
    for (const QByteArray &arrival : arrivals)
        actual << text.render(arrival);
    actual << text.takeIncomplete();
    QCOMPARE(actual, shown);
    QCOMPARE(text.takeIncomplete(), QString());
}

void RenderingTest::serialCleanup_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("lineBreak");
    QTest::addColumn<QString>("expected");
    QTest::newRow("0A and a space stay text")
        << QStringLiteral("REG 0A = 5") << false << QStringLiteral("REG 0A = 5");
    QTest::newRow("line break appended") << QStringLiteral("AT") << true << QStringLiteral("AT\n");
    QTest::newRow("hex command 0A 0D stays as typed")
        << QStringLiteral("0A 0D") << true << QStringLiteral("0A 0D\n");
    QTest::newRow("CR CR LF") << QStringLiteral("abc\r\r\n") << false << QStringLiteral("abc\n");
    QTest::newRow("single CR stays") << QStringLiteral("a\rb") << false << QStringLiteral("a\rb");
    QTest::newRow("three CRs leave one")
        << QStringLiteral("\r\r\r") << false << QStringLiteral("\r");
    QTest::newRow("four CRs leave none")
        << QStringLiteral("a\r\r\r\rb") << false << QStringLiteral("ab");
    QTest::newRow("CR then appended line feed")
        << QStringLiteral("OK\r") << true << QStringLiteral("OK\r\n");
    QTest::newRow("backspace-space-backspace")
        << QStringLiteral("x\b \b") << false << QStringLiteral("x");
    QTest::newRow("lone backspace stays")
        << QStringLiteral("x\by") << false << QStringLiteral("x\by");
    QTest::newRow("erasure between CRs leaves no CR pair")
        << QStringLiteral("a\r\b \b\rb") << false << QStringLiteral("ab");
    QTest::newRow("nested erasure") << QStringLiteral("\b\b \b \b") << false << QString();
}

void RenderingTest::serialCleanup()
{
    QFETCH(QString, text);
    QFETCH(bool, lineBreak);
    QFETCH(QString, expected);
    const QString result = ::serialCleanup(text, lineBreak);
    QCOMPARE(result, expected);
    QVERIFY(!result.contains(QStringLiteral("\r\r")));
    QVERIFY(!result.contains(QStringLiteral("\b \b")));
}

void RenderingTest::encodeCommand_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("hexMode");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QString>("problem");
    const QString noDigit = QStringLiteral("the command holds no hexadecimal digit");
    const QString odd = QStringLiteral("the command holds an odd number of hexadecimal digits "
                                       "(%1), and every byte needs two");
    QTest::newRow("ascii gets one line feed")
        << QStringLiteral("AT") << false << QByteArray("AT\n") << QString();
    QTest::newRow("ascii is not trimmed")
        << QStringLiteral(" AT ") << false << QByteArray(" AT \n") << QString();
    QTest::newRow("ascii gets no carriage return")
        << QStringLiteral("AT\r") << false << QByteArray("AT\r\n") << QString();
    QTest::newRow("empty ascii command") << QString() << false << QByteArray("\n") << QString();
    QTest::newRow("hex pairs in either case")
        << QStringLiteral("01 a0 FF") << true << QByteArray("\x01\xa0\xff", 3) << QString();
    QTest::newRow("hex surrounding spaces")
        << QStringLiteral("  4F4B  ") << true << QByteArray("OK") << QString();
    QTest::newRow("hex gets no line feed")
        << QStringLiteral("41") << true << QByteArray("A") << QString();
    QTest::newRow("hex, digits paired across separators")
        << QStringLiteral("0 1a 0") << true << QByteArray("\x01\xa0", 2) << QString();
    QTest::newRow("hex without digits") << QStringLiteral("   ") << true << QByteArray() << noDigit;
    QTest::newRow("hex, odd digit left over")
        << QStringLiteral("01 a0 FF 4") << true << QByteArray() << odd.arg(7);
    QTest::newRow("hex, single digits")
        << QStringLiteral("1 2 3") << true << QByteArray() << odd.arg(3);
    // Separators people write between bytes.
    for (const char *text : { "41:42", "41-42", "41, 42", "41,42", "\t41\t42" })
        QTest::addRow("hex, separated \"%s\"", text)
            << QString::fromLatin1(text) << true << QByteArray("AB") << QString();
    QTest::newRow("hex, 0x bytes")
        << QStringLiteral("0x41 0x42") << true << QByteArray("AB") << QString();
    QTest::newRow("hex, 0X and a comma")
        << QStringLiteral("0X41,0x42") << true << QByteArray("AB") << QString();
    QTest::newRow("hex, 0x with one digit")
        << QStringLiteral("0x1 0x2") << true << QByteArray("\x01\x02") << QString();
    QTest::newRow("hex, 0x beside pairs")
        << QStringLiteral("01 0xa 0203") << true << QByteArray("\x01\x0a\x02\x03") << QString();
    QTest::newRow("hex, 0x alone") << QStringLiteral("41 0x") << true << QByteArray()
                                   << QStringLiteral("0x at position 4 has no hexadecimal digit "
                                                     "after it");
    QTest::newRow("hex, 0x with three digits")
        << QStringLiteral("0x123") << true << QByteArray()
        << QStringLiteral("0x123 at position 1 has more than two hexadecimal digits for one byte");
    QTest::newRow("hex, a digit alone before 0x")
        << QStringLiteral("4 0x41 2") << true << QByteArray()
        << QStringLiteral("the hexadecimal digit at position 1 has no partner before 0x41 at "
                          "position 3");
    // Anything else refuses the whole command, naming the first offender.
    const QString other = QStringLiteral("the command holds '%1' at position %2, which is neither "
                                         "a hexadecimal digit nor a separator");
    QTest::newRow("hex, a point") << QStringLiteral("41.42") << true << QByteArray()
                                  << other.arg(".").arg(3);
    QTest::newRow("hex, a slash") << QStringLiteral("41/42") << true << QByteArray()
                                  << other.arg("/").arg(3);
    QTest::newRow("hex, G") << QStringLiteral("4G") << true << QByteArray()
                            << other.arg("G").arg(2);
    QTest::newRow("hex, a word") << QStringLiteral("ping") << true << QByteArray()
                                 << other.arg("p").arg(1);
    QTest::newRow("hex, x inside a word")
        << QStringLiteral("10x41") << true << QByteArray() << other.arg("x").arg(3);
    QTest::newRow("hex, glued to a 0x byte")
        << QStringLiteral("0x41g") << true << QByteArray() << other.arg("g").arg(5);
}

void RenderingTest::encodeCommand()
{
    QFETCH(QString, text);
    QFETCH(bool, hexMode);
    QFETCH(QByteArray, expected);
    QFETCH(QString, problem);
    QString why;
    QCOMPARE(::encodeCommand(text, hexMode, &why), expected);
    QCOMPARE(why, problem);
}

void RenderingTest::displayBreaks_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("expected");

    const QString a4096(4096, QLatin1Char('a'));
    const QString hex = ::hexRendering(QByteArray(2000, '\x5a'));
    const QString smile = QString::fromUtf8("\xf0\x9f\x98\x80");
    QTest::newRow("short text unchanged") << "abc" << 0 << "abc";
    QTest::newRow("a full paragraph unchanged") << a4096 << 0 << a4096;
    QTest::newRow("line breaks reset the count")
        << a4096 + "\n" + a4096 << 0 << a4096 + "\n" + a4096;
    QTest::newRow("carriage returns reset the count")
        << a4096 + "\r" + a4096 << 0 << a4096 + "\r" + a4096;
    QTest::newRow("hex pairs stay whole") << hex << 0 << hex.left(4098) + "\n" + hex.mid(4098);
    QTest::newRow("no space: break after the grace")
        << a4096 + "bbbbbbbbbbbbbbbbbbbb" << 0 << a4096 + "bbbbbbbbbbbbbbbb\nbbbb";
    QTest::newRow("the view's paragraph counts") << "xyz" << 4096 << "\nxyz";
    QTest::newRow("the view's paragraph plus text") << "b c" << 4095 << "b \nc";
    QTest::newRow("surrogate pair never split") << QString(4111, QLatin1Char('a')) + smile
            + "b" << 0 << QString(4111, QLatin1Char('a')) + smile + "\nb";
}

void RenderingTest::displayBreaks()
{
    QFETCH(QString, text);
    QFETCH(int, column);
    QFETCH(QString, expected);
    const QString shown = withDisplayBreaks(text, column);
    QCOMPARE(shown, expected);
}

void RenderingTest::survivingTail_data()
{
    QTest::addColumn<QString>("text");

    auto lines = [](int count, const QString &end) {
        QString text;
        for (int i = 0; i < count; ++i)
            text += QStringLiteral("line %1").arg(i) + end;
        return text;
    };
    QTest::newRow("fewer lines than the view holds") << lines(98, "\n");
    QTest::newRow("as many lines as the view holds") << lines(100, "\n");
    QTest::newRow("many lines") << lines(450, "\n") + "partial";
    QTest::newRow("CR LF pairs are one break") << lines(180, "\r\n");
    QTest::newRow("lone carriage returns") << lines(130, "\r");
    QTest::newRow("mixed breaks") << lines(60, "\r\n") + lines(60, "\r") + lines(60, "\n")
            + QString(QChar::ParagraphSeparator) + "\r";
    QTest::newRow("CR at the very end") << lines(120, "\n") + "\r";
}

void RenderingTest::survivingTail()
{
    // Inserting only the surviving tail into an emptied view must give what inserting all of it
    // at the end gives.
    QFETCH(QString, text);
    QTextDocument whole;
    whole.setMaximumBlockCount(100);
    QTextCursor(&whole).insertText(QStringLiteral("earlier\ntext"));
    QTextCursor end(&whole);
    end.movePosition(QTextCursor::End);
    end.insertText(text);

    const int tail = survivingTailStart(text, 100);
    QTextDocument shortcut;
    shortcut.setMaximumBlockCount(100);
    QTextCursor(&shortcut).insertText(tail ? text.mid(tail) : "earlier\ntext" + text);

    QCOMPARE(shortcut.blockCount(), whole.blockCount());
    QCOMPARE(shortcut.toPlainText(), whole.toPlainText());
}

QTEST_MAIN(RenderingTest)
#include "tst_rendering.moc"
