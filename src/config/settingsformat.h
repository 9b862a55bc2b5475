#pragma once

#include <QSettings>
#include <QtGlobal>

// Qt 6 writes text beyond ASCII into an INI file as raw UTF-8, Qt 5 as \x escapes, and Qt 5
// takes the file's bytes for Latin-1. Read as UTF-8, a file from either version comes back
// whole under Qt 5 too (escapes are still understood), and Qt 5 then writes raw UTF-8 as Qt 6
// does. Call it before the first value is read or written.
inline void useUtf8Ini(QSettings &settings)
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    settings.setIniCodec("UTF-8");
#else
    Q_UNUSED(settings)
#endif
}
