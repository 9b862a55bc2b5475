#include "seriallists.h"
#include "mainwindow.h"
#include "serialchannel.h"

#include "ui_mainwindow.h"

#include <QSerialPortInfo>

QString formatUsbIdentifier(quint16 identifier)
{
    return identifier ? QString::number(identifier, 16) : QString();
}

QStringList serialPortItemData(const QSerialPortInfo &info)
{
    const QString productId = formatUsbIdentifier(info.productIdentifier());
    const QString vendorId = formatUsbIdentifier(info.vendorIdentifier());
    return { info.portName(),       info.description(), info.manufacturer(),
             info.systemLocation(), vendorId,           productId };
}

void fillSerialParameterLists(const SerialPanel::LineWidgets &line)
{
    struct Item {
        const char *text;
        int value;
    };
    auto fill = [](QComboBox *box, std::initializer_list<Item> items) {
        for (const Item &item : items)
            box->addItem(QLatin1String(item.text), item.value);
    };

    for (const qint32 rate : standardBaudRates)
        line.baudRate->addItem(QString::number(rate), rate);
    fill(line.dataBits,
         { { "5", QSerialPort::Data5 },
           { "6", QSerialPort::Data6 },
           { "7", QSerialPort::Data7 },
           { "8", QSerialPort::Data8 } });
    line.dataBits->setCurrentIndex(3);
    fill(line.parity,
         { { "None", QSerialPort::NoParity },
           { "Even", QSerialPort::EvenParity },
           { "Odd", QSerialPort::OddParity },
           { "Mark", QSerialPort::MarkParity },
           { "Space", QSerialPort::SpaceParity } });
    fill(line.stopBits, { { "1", QSerialPort::OneStop }, { "2", QSerialPort::TwoStop } });
    fill(line.flowControl,
         { { "None", QSerialPort::NoFlowControl },
           { "RTS/CTS", QSerialPort::HardwareControl },
           { "XON/XOFF", QSerialPort::SoftwareControl } });
}

void MainWindow::fillSerialParameterLists()
{
    ::fillSerialParameterLists(serialPanel->lineWidgets());
}

void MainWindow::fillSerialPortList()
{
    ui->CB_SerialPort->clear();
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
        const QStringList data = serialPortItemData(info);
        ui->CB_SerialPort->addItem(data.first(), data);
    }
}

void MainWindow::addSerialPorts(const QStringList &paths)
{
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QString &path : paths) {
        // The saved port and the command line may name the same device.
        if (ui->CB_SerialPort->findText(path) >= 0)
            continue;
        QStringList data = serialPortItemData(QSerialPortInfo());
        // A device the system also found keeps what the system knows about it.
        for (const QSerialPortInfo &info : ports)
            if (info.systemLocation() == path)
                data = serialPortItemData(info);
        data[0] = path;
        data[3] = path;
        ui->CB_SerialPort->addItem(path, data);
    }
    if (!paths.isEmpty())
        ui->CB_SerialPort->setCurrentIndex(ui->CB_SerialPort->findText(paths.first()));
}
