#include "encoding.h"
#include "fuzzsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    const QString hex = hexRendering(bytes);
    FUZZ_CHECK(hex.size() == 3 * bytes.size());
    for (int i = 0; i < hex.size(); ++i) {
        const QChar c = hex.at(i);
        if (i % 3 == 2)
            FUZZ_CHECK(c == QLatin1Char(' '));
        else
            FUZZ_CHECK((c >= QLatin1Char('0') && c <= QLatin1Char('9'))
                       || (c >= QLatin1Char('A') && c <= QLatin1Char('F')));
    }
    // What the view shows in hex mode can be typed back as a hex command and gives the bytes.
    FUZZ_CHECK(encodeCommand(hex, true) == bytes);
    return 0;
}
