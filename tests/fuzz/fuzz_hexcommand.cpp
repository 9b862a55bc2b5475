#include "fuzzsupport.h"
#include "rendering.h"

#include <cctype>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    const QByteArray bytes = encodeCommand(text, true);
    int digits = 0;
    for (const char c : text.trimmed().toLocal8Bit())
        digits += std::isxdigit(static_cast<unsigned char>(c)) ? 1 : 0;
    // Digits pair up, whatever stands between them; nothing else contributes a byte.
    FUZZ_CHECK(bytes.size() == (digits + 1) / 2);
    // Rendering the bytes and decoding them again is the identity.
    FUZZ_CHECK(encodeCommand(hexRendering(bytes), true) == bytes);

    const QByteArray line = encodeCommand(text, false);
    FUZZ_CHECK(line.endsWith('\n'));
    FUZZ_CHECK(line.chopped(1) == text.toLocal8Bit());
    return 0;
}
