#include "fuzzsupport.h"
#include "options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    const int port = portFromText(text);
    FUZZ_CHECK(port >= 0 && port <= 65535);
    // The port the user typed, or none (0): never another one.
    const QString typed = text.trimmed();
    bool digitsOnly = !typed.isEmpty();
    for (const QChar c : typed)
        digitsOnly = digitsOnly && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    bool ok = false;
    const qlonglong value = typed.toLongLong(&ok, 10);
    if (digitsOnly && ok && value >= 1 && value <= 65535)
        FUZZ_CHECK(port == value);
    else
        FUZZ_CHECK(port == 0);
    return 0;
}
