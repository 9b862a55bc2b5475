#include "seriallists.h"
#include "windowfixture.h"

#include <QSerialPortInfo>
#include <QtTest>

class SerialListsTest : public QObject {
    Q_OBJECT

private slots:
    void parameterList_data();
    void parameterList();
    void parityDatum_data();
    void parityDatum();
    void usbIdentifier_data();
    void usbIdentifier();
    void portList();

private:
    WindowFixture m_fixture;
    const MainWindow &m_window = m_fixture.window();
};

void SerialListsTest::parameterList_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QList<int>>("data");
    QTest::addColumn<QString>("selected");
    QTest::newRow("baud rate") << "CB_BandRate"
                               << QStringList { "9600", "19200", "38400", "57600", "115200" }
                               << QList<int> { 9600, 19200, 38400, 57600, 115200 } << "9600";
    QTest::newRow("data bits") << "CB_DataBit" << QStringList { "5", "6", "7", "8" }
                               << QList<int> { 5, 6, 7, 8 } << "8";
    QTest::newRow("parity") << "CB_Parity" << QStringList { "None", "Even", "Odd", "Mark", "Space" }
                            << QList<int> { 0, 2, 3, 5, 4 } << "None";
    QTest::newRow("stop bits") << "CB_StopBit" << QStringList { "1", "2" } << QList<int> { 1, 2 }
                               << "1";
    QTest::newRow("flow control") << "CB_FlowControl"
                                  << QStringList { "None", "RTS/CTS", "XON/XOFF" }
                                  << QList<int> { 0, 1, 2 } << "None";
}

void SerialListsTest::parameterList()
{
    QFETCH(QString, box);
    QFETCH(QStringList, texts);
    QFETCH(QList<int>, data);
    QFETCH(QString, selected);
    const auto *combo = m_window.findChild<QComboBox *>(box);
    QVERIFY(combo);
    QVERIFY(!combo->isEditable());
    QStringList foundTexts;
    QList<int> foundData;
    for (int i = 0; i < combo->count(); ++i) {
        foundTexts << combo->itemText(i);
        const QVariant datum = combo->itemData(i, Qt::UserRole);
        QCOMPARE(datum.userType(), int(QMetaType::Int));
        foundData << datum.toInt();
        QVERIFY(combo->itemIcon(i).isNull());
    }
    QCOMPARE(foundTexts, texts);
    QCOMPARE(foundData, data);
    QCOMPARE(combo->currentText(), selected);
}

void SerialListsTest::parityDatum_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("datum");
    QTest::newRow("Mark") << "Mark" << int(QSerialPort::MarkParity);
    QTest::newRow("Space") << "Space" << int(QSerialPort::SpaceParity);
}

void SerialListsTest::parityDatum()
{
    QFETCH(QString, text);
    QFETCH(int, datum);
    WindowFixture fixture;
    auto *parity = fixture.widget<QComboBox>("CB_Parity");
    parity->setCurrentText(text);
    QCOMPARE(parity->currentText(), text);
    QCOMPARE(parity->currentData().toInt(), datum);
}

void SerialListsTest::usbIdentifier_data()
{
    QTest::addColumn<int>("identifier");
    QTest::addColumn<QString>("formatted");
    QTest::newRow("lower case") << 0x10C4 << "10c4";
    QTest::newRow("no leading zero") << 0x0EA6 << "ea6";
    QTest::newRow("none") << 0 << "";
    QTest::newRow("largest") << 0xFFFF << "ffff";
    QTest::newRow("one digit") << 1 << "1";
}

void SerialListsTest::usbIdentifier()
{
    QFETCH(int, identifier);
    QFETCH(QString, formatted);
    QCOMPARE(formatUsbIdentifier(quint16(identifier)), formatted);
}

void SerialListsTest::portList()
{
    auto hex = [](quint16 id) { return id ? QString::number(id, 16) : QString(); };
    const auto ports = QSerialPortInfo::availablePorts();
    const auto *combo = m_window.findChild<QComboBox *>("CB_SerialPort");
    QCOMPARE(combo->count(), ports.size());
    for (int i = 0; i < ports.size(); ++i) {
        const QSerialPortInfo &info = ports.at(i);
        QCOMPARE(combo->itemText(i), info.portName());
        const QVariant datum = combo->itemData(i, Qt::UserRole);
        QCOMPARE(datum.userType(), int(QMetaType::QStringList));
        QCOMPARE(datum.toStringList(),
                 QStringList({ info.portName(), info.description(), info.manufacturer(),
                               info.systemLocation(), hex(info.vendorIdentifier()),
                               hex(info.productIdentifier()) }));
    }
    if (ports.isEmpty())
        QVERIFY(combo->currentText().isEmpty());

    // A port without USB identifiers leaves both identifier strings empty.
    const QStringList bare = serialPortItemData(QSerialPortInfo());
    QCOMPARE(bare.size(), 6);
    QCOMPARE(bare.mid(4), QStringList({ QString(), QString() }));
}

QTEST_MAIN(SerialListsTest)
#include "tst_seriallists.moc"
