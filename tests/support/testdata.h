#pragma once

#include <QByteArray>
#include <QRandomGenerator>

// Reproducible test payloads: the same seed gives the same bytes in every run.

inline QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    for (int i = size / 4 * 4; i < size; ++i)
        bytes[i] = char(generator.generate());
    return bytes;
}

// Characters drawn from `alphabet` only, e.g. text that no clean-up or rendering changes.
inline QByteArray plainText(int size, quint32 seed, const QByteArray &alphabet)
{
    QByteArray text(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (char &c : text)
        c = alphabet.at(int(generator.bounded(alphabet.size())));
    return text;
}

// Letters, digits and spaces: text that no clean-up or rendering changes.
inline const QByteArray plainAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789 ";
