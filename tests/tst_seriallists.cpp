#include "seriallists.h"

#include <QComboBox>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QtTest>

class SerialListsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { fillSerialParameterLists(m_line); }
    void parameterList_data();
    void parameterList();
    void parityDatum_data();
    void parityDatum();
    void usbIdentifier_data();
    void usbIdentifier();
    void bareItemData();

private:
    // The port and the five parameter lists, filled as the window fills them.
    QComboBox m_boxes[6];
    const SerialPanel::LineWidgets m_line { &m_boxes[0], &m_boxes[1], &m_boxes[2], &m_boxes[3],
                                            &m_boxes[4], &m_boxes[5], nullptr };
};

void SerialListsTest::parameterList_data()
{
    QTest::addColumn<int>("box");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QList<int>>("data");
    QTest::addColumn<QString>("selected");
    QTest::newRow("baud rate") << 1 << QStringList { "9600", "19200", "38400", "57600", "115200" }
                               << QList<int> { 9600, 19200, 38400, 57600, 115200 } << "9600";
    QTest::newRow("data bits") << 2 << QStringList { "5", "6", "7", "8" }
                               << QList<int> { 5, 6, 7, 8 } << "8";
    QTest::newRow("parity") << 3 << QStringList { "None", "Even", "Odd", "Mark", "Space" }
                            << QList<int> { 0, 2, 3, 5, 4 } << "None";
    QTest::newRow("stop bits") << 4 << QStringList { "1", "2" } << QList<int> { 1, 2 } << "1";
    QTest::newRow("flow control") << 5 << QStringList { "None", "RTS/CTS", "XON/XOFF" }
                                  << QList<int> { 0, 1, 2 } << "None";
}

void SerialListsTest::parameterList()
{
    QFETCH(int, box);
    QFETCH(QStringList, texts);
    QFETCH(QList<int>, data);
    QFETCH(QString, selected);
    const QComboBox *combo = &m_boxes[box];
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
    QComboBox *parity = m_line.parity;
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

// A port without USB identifiers leaves both identifier strings empty.
void SerialListsTest::bareItemData()
{
    const QStringList bare = serialPortItemData(QSerialPortInfo());
    QCOMPARE(bare.size(), 6);
    QCOMPARE(bare.mid(4), QStringList({ QString(), QString() }));
}

QTEST_MAIN(SerialListsTest)
#include "tst_seriallists.moc"
