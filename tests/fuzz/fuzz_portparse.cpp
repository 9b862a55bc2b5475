#include "fuzzsupport.h"
#include "networkchannel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    const int port = networkPortFromText(text);
    FUZZ_CHECK(port >= 0 && port <= 65535);
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    // A readable number keeps its low 16 bits; anything else is port 0.
    FUZZ_CHECK(port == (ok ? (value & 0xffff) : 0));
    return 0;
}
