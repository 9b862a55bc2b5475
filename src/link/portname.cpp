#include "portname.h"

#include <QCoreApplication>

namespace {
QString windowText(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

PortName invalid(const QString &problem)
{
    PortName name;
    name.kind = PortName::Kind::Invalid;
    name.problem = problem;
    return name;
}
} // namespace

PortName parsePortName(const QString &name)
{
    const QString rfc2217 = QStringLiteral("rfc2217://");
    const QString raw = QStringLiteral("socket://");
    PortName parsed;
    QString rest;
    if (name.startsWith(rfc2217, Qt::CaseInsensitive)) {
        parsed.kind = PortName::Kind::Rfc2217;
        rest = name.mid(rfc2217.size());
    } else if (name.startsWith(raw, Qt::CaseInsensitive)) {
        parsed.kind = PortName::Kind::Raw;
        rest = name.mid(raw.size());
    } else {
        return parsed;
    }

    // The port follows the last colon; an IPv6 address has colons of its own, so it is
    // bracketed.
    QString host;
    QString port;
    if (rest.startsWith(QLatin1Char('['))) {
        const int close = rest.indexOf(QLatin1Char(']'));
        if (close < 0)
            return invalid(windowText("an IPv6 address without its closing ]"));
        host = rest.mid(1, close - 1);
        const QString after = rest.mid(close + 1);
        if (!after.startsWith(QLatin1Char(':')))
            return invalid(windowText("no port (HOST:PORT)"));
        port = after.mid(1);
    } else {
        const int colon = rest.lastIndexOf(QLatin1Char(':'));
        if (colon < 0)
            return invalid(windowText("no port (HOST:PORT)"));
        host = rest.left(colon);
        port = rest.mid(colon + 1);
        if (host.contains(QLatin1Char(':')))
            return invalid(windowText("an IPv6 address must be in brackets ([::1]:PORT)"));
    }
    if (host.isEmpty())
        return invalid(windowText("no host (HOST:PORT)"));
    for (const QChar c : qAsConst(host))
        if (c.isSpace() || c == QLatin1Char('/') || c == QLatin1Char('?') || c == QLatin1Char('@'))
            return invalid(windowText("the host %1 is not a host name or address").arg(host));
    bool number = false;
    const uint value = port.toUInt(&number, 10);
    if (!number || port.startsWith(QLatin1Char('+')) || value < 1 || value > 65535)
        return invalid(windowText("the port %1 is not a number from 1 to 65535").arg(port));
    parsed.host = host;
    parsed.port = quint16(value);
    return parsed;
}
