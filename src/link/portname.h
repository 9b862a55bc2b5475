#pragma once

#include <QString>

// What a serial port name opens: a port of this computer, the serial port of a port server
// that speaks RFC 2217 ("rfc2217://HOST:PORT"), or one that passes the bytes as they are
// ("socket://HOST:PORT").
struct PortName {
    enum class Kind { Local, Rfc2217, Raw, Invalid };

    Kind kind = Kind::Local;
    QString host;
    quint16 port = 0;
    // For Invalid: what is wrong with the name, to follow it ("rfc2217://lab: no port").
    QString problem;

    bool isRemote() const { return kind == Kind::Rfc2217 || kind == Kind::Raw; }
};

// Reads a name as the port box or --serial-port gives it. Any name without one of the two
// schemes is a local port; a scheme is read in any case; a host may be an IPv6 address in
// brackets.
PortName parsePortName(const QString &name);
