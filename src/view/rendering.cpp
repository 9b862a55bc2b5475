#include "rendering.h"

QString hexRendering(const QByteArray &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    QString out(bytes.size() * 3, Qt::Uninitialized);
    QChar *p = out.data();
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *p++ = QLatin1Char(digits[b >> 4]);
        *p++ = QLatin1Char(digits[b & 0x0f]);
        *p++ = QLatin1Char(' ');
    }
    return out;
}

QString textRendering(const QByteArray &bytes)
{
    const int end = bytes.indexOf('\0');
    return QString::fromUtf8(bytes.constData(), end < 0 ? bytes.size() : end);
}

QString serialCleanup(QString text, bool lineBreak)
{
    text.replace(QLatin1String("0A "), QLatin1String("\n"));
    if (lineBreak)
        text.append(QLatin1Char('\n'));

    // One left-to-right pass can join the remains of two matches into a new one (CR, BS SP BS,
    // CR leaves CR CR), so repeat until neither pattern is left. On plain runs this gives the
    // same result as a single pass: three CRs leave one, four leave none.
    const QString doubleCr = QStringLiteral("\r\r");
    const QString erase = QString::fromLatin1(QByteArray::fromHex("082008"));
    while (text.contains(doubleCr) || text.contains(erase)) {
        text.remove(doubleCr);
        text.remove(erase);
    }
    return text;
}

QByteArray encodeCommand(const QString &text, bool hexMode)
{
    if (hexMode)
        return QByteArray::fromHex(text.trimmed().toLocal8Bit());
    return text.toLocal8Bit() + '\n';
}
