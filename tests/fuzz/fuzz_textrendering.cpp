#include "encoding.h"
#include "fuzzsupport.h"
#include "rendering.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    const QString text = textRendering(bytes);
    // Nothing is cut: every zero byte shows as the NUL symbol, and clean UTF-8 comes back whole.
    FUZZ_CHECK(!text.contains(QChar(0)));
    FUZZ_CHECK(text.size() <= bytes.size());
    if (!text.contains(QChar::ReplacementCharacter) && !bytes.contains("\xe2\x90\x80")) {
        QString back = text;
        FUZZ_CHECK(back.replace(QChar(0x2400), QChar(0)).toUtf8() == bytes);
    }

    // Split anywhere into two arrivals, the text is the same as in one.
    const int split = size > 0 ? data[0] % int(size + 1) : 0;
    ReceivedText arrivals;
    const QString joined = arrivals.render(bytes.left(split)) + arrivals.render(bytes.mid(split))
        + arrivals.takeIncomplete();
    if (!text.contains(QChar::ReplacementCharacter))
        FUZZ_CHECK(joined == text);
    FUZZ_CHECK(arrivals.takeIncomplete().isEmpty());

    // The view's own paragraph breaks only add line breaks, and bound every paragraph.
    const int column = size > 0 ? data[0] * 32 : 0;
    QString display = withDisplayBreaks(text, column);
    int run = column;
    for (const QChar c : display) {
        run = isParagraphBreak(c) ? 0 : run + 1;
        FUZZ_CHECK(run <= maxDisplayParagraph + 17 || run <= column + 1);
    }
    QString original = text;
    FUZZ_CHECK(display.remove(QLatin1Char('\n')) == original.remove(QLatin1Char('\n')));
    return 0;
}
