#include "fuzzsupport.h"
#include "rendering.h"

#include <cctype>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    QString problem;
    const QByteArray bytes = encodeCommand(text, true, &problem);
    QByteArray digits;
    for (const char c : text.toLocal8Bit())
        if (std::isxdigit(static_cast<unsigned char>(c)))
            digits += c;
    // A command is sent whole or not at all: no digit, or one left over, sends nothing.
    if (digits.isEmpty() || digits.size() % 2) {
        FUZZ_CHECK(bytes.isEmpty() && !problem.isEmpty());
    } else {
        // Digits pair up from the left, whatever stands between them.
        FUZZ_CHECK(problem.isEmpty() && bytes.size() == digits.size() / 2);
        for (int i = 0; i < bytes.size(); ++i)
            FUZZ_CHECK(uchar(bytes.at(i)) == digits.mid(2 * i, 2).toUInt(nullptr, 16));
    }
    // Rendering the bytes and decoding them again is the identity.
    FUZZ_CHECK(encodeCommand(hexRendering(bytes), true) == bytes);

    const QByteArray line = encodeCommand(text, false);
    FUZZ_CHECK(line.endsWith('\n'));
    FUZZ_CHECK(line.chopped(1) == text.toLocal8Bit());
    return 0;
}
