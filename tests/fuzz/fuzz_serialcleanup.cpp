#include "fuzzsupport.h"
#include "rendering.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const bool lineBreak = data[0] & 1;
    // Latin-1 maps every byte to one character, so control characters are easy to reach.
    const QString input
        = QString::fromLatin1(reinterpret_cast<const char *>(data + 1), int(size - 1));
    const QString out = serialCleanup(input, lineBreak);
    FUZZ_CHECK(!out.contains(QLatin1String("\r\r")));
    FUZZ_CHECK(!out.contains(QLatin1String("\b \b")));
    FUZZ_CHECK(out.size() <= input.size() + 1);
    if (lineBreak && !input.contains(QLatin1Char('\r')) && !input.contains(QLatin1Char('\b')))
        FUZZ_CHECK(out.endsWith(QLatin1Char('\n')));
    return 0;
}
