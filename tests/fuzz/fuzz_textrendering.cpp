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
    return 0;
}
