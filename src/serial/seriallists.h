#pragma once

#include "serialpanel.h"

#include <QString>
#include <QStringList>

class QSerialPortInfo;

// A USB vendor or product identifier as lower-case hex without leading zeros; empty for 0,
// which means the port has none.
QString formatUsbIdentifier(quint16 identifier);

// The six strings stored with a port's list entry: name, description, manufacturer, system
// location, vendor and product identifier.
QStringList serialPortItemData(const QSerialPortInfo &info);

// The five line parameter lists, each item carrying the value the port is set to.
void fillSerialParameterLists(const SerialPanel::LineWidgets &line);
