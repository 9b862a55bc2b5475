#include "fuzzsupport.h"
#include "rendering.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    const QString text = textRendering(bytes);
    FUZZ_CHECK(!text.contains(QChar(0)));
    // Only the bytes before the first NUL are shown; a clean UTF-8 prefix survives unchanged.
    const int end = bytes.indexOf('\0');
    const QByteArray shown = end < 0 ? bytes : bytes.left(end);
    FUZZ_CHECK(text.size() <= shown.size());
    if (!text.contains(QChar::ReplacementCharacter))
        FUZZ_CHECK(text.toUtf8() == shown);

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
