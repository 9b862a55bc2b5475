#pragma once

#include <QString>
#include <QStringList>

class QSerialPortInfo;

// A USB vendor or product identifier as lower-case hex without leading zeros; empty for 0,
// which means the port has none.
QString formatUsbIdentifier(quint16 identifier);

// The six strings stored with a port's list entry: name, description, manufacturer, system
// location, vendor and product identifier.
QStringList serialPortItemData(const QSerialPortInfo &info);
