#include "encoding.h"
#include "fuzzsupport.h"

#include <cctype>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    QString problem;
    const QByteArray bytes = encodeCommand(text, true, &problem);
    // A command is sent whole or not at all, and only what may stand in one is ever sent.
    FUZZ_CHECK(bytes.isEmpty() != problem.isEmpty());
    bool plain = true; // hex digits and separators alone
    for (const QChar c : text) {
        const bool digit = c.unicode() < 128 && std::isxdigit(c.unicode());
        const bool separator = QStringLiteral(" \t,:-").contains(c);
        plain = plain && (digit || separator);
        if (problem.isEmpty())
            FUZZ_CHECK(digit || separator || c == QLatin1Char('x') || c == QLatin1Char('X'));
    }
    if (plain) {
        QByteArray digits;
        for (const QChar c : text)
            if (std::isxdigit(c.unicode()))
                digits += char(c.unicode());
        // No digit, or one left over, sends nothing; else digits pair up from the left, whatever
        // separators stand between them.
        FUZZ_CHECK(problem.isEmpty() == (!digits.isEmpty() && digits.size() % 2 == 0));
        for (int i = 0; i < bytes.size(); ++i)
            FUZZ_CHECK(uchar(bytes.at(i)) == digits.mid(2 * i, 2).toUInt(nullptr, 16));
    }
    // Rendering the bytes and decoding them again is the identity, written either way.
    FUZZ_CHECK(encodeCommand(hexRendering(bytes), true) == bytes);
    QString prefixed;
    for (const char b : bytes)
        prefixed += QString::asprintf("0x%x, ", uchar(b));
    FUZZ_CHECK(encodeCommand(prefixed, true) == bytes);

    const QByteArray line = encodeCommand(text, false);
    FUZZ_CHECK(line.endsWith('\n'));
    FUZZ_CHECK(line.chopped(1) == text.toLocal8Bit());
    return 0;
}
