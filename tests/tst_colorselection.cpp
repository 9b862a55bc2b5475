#include "mainwindow.h"
#include "modaldialoghelper.h"
#include "pty.h"
#include "testenvironment.h"
#include "windowbench.h"

#include <QColorDialog>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextEdit>
#include <QtTest>

namespace {

using Bench = WindowBench;

// The colour of the first character of text in the view.
QColor colourOf(const QTextEdit *view, const QString &text)
{
    QTextCursor cursor(view->document());
    cursor.setPosition(view->toPlainText().indexOf(text) + 1);
    return cursor.charFormat().foreground().color();
}

} // namespace

class ColorSelectionTest : public QObject {
    Q_OBJECT

private slots:
    void startUpLook_data();
    void startUpLook();
    void dialogShowsCurrentColour();
    void serialOutputColour_data();
    void serialOutputColour();
    void networkPairAppliesToAllViews();
};

void ColorSelectionTest::startUpLook_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::newRow("serial input") << "PB_SerialInputColor"
                                  << "#000000";
    QTest::newRow("serial output") << "PB_SerialOutputColor"
                                   << "#ff0000";
    QTest::newRow("network input") << "PB_NetworkInputColor"
                                   << "#000000";
    QTest::newRow("network output") << "PB_NetworkOutputColor"
                                    << "#ff0000";
}

void ColorSelectionTest::startUpLook()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    Bench bench;
    QCOMPARE(bench.widget<QPushButton>(name)->text(), caption);
    QCOMPARE(bench.widget<QPushButton>(name)->styleSheet(), "background-color:" + caption);
}

void ColorSelectionTest::dialogShowsCurrentColour()
{
    Bench bench;
    QList<QColor> initial;
    connect(&bench.helper, &ModalDialogHelper::answered, this, [&] {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *dialog = qobject_cast<QColorDialog *>(widget);
                dialog && dialog->isVisible()) {
                initial << dialog->currentColor();
                QCOMPARE(dialog->parentWidget(), &bench.window);
                QCOMPARE(dialog->options(), QColorDialog::ColorDialogOptions());
            }
    });
    auto *networkOutput = bench.widget<QPushButton>("PB_NetworkOutputColor");

    bench.helper.setColorAnswer(Qt::blue);
    networkOutput->click();
    bench.helper.setColorAnswer(QColor()); // cancel
    networkOutput->click();
    networkOutput->click();

    QCOMPARE(bench.helper.titles(),
             QStringList({ "Select Color", "Select Color", "Select Color" }));
    QCOMPARE(initial, (QList<QColor> { Qt::red, Qt::blue, Qt::blue }));
    QCOMPARE(networkOutput->text(), QStringLiteral("#0000ff"));
}

void ColorSelectionTest::serialOutputColour_data()
{
    QTest::addColumn<QColor>("answer");
    QTest::addColumn<QColor>("expected");
    QTest::newRow("blue chosen") << QColor(Qt::blue) << QColor(Qt::blue);
    QTest::newRow("dialog cancelled") << QColor() << QColor(Qt::red);
}

void ColorSelectionTest::serialOutputColour()
{
    QFETCH(QColor, answer);
    QFETCH(QColor, expected);
    Bench bench;
    QVERIFY(bench.openSerial());
    bench.send("SerialPort", QStringLiteral("before"));
    bench.helper.setColorAnswer(answer);
    auto *serialOutput = bench.widget<QPushButton>("PB_SerialOutputColor");
    serialOutput->click();
    QCOMPARE(bench.helper.count(), 1);
    QCOMPARE(serialOutput->text(), expected.name());
    QCOMPARE(serialOutput->styleSheet(), "background-color:" + expected.name());

    bench.send("SerialPort", QStringLiteral("after"));
    QCOMPARE(colourOf(bench.view("SerialPort"), QStringLiteral("before")), QColor(Qt::red));
    QCOMPARE(colourOf(bench.view("SerialPort"), QStringLiteral("after")), expected);
}

void ColorSelectionTest::networkPairAppliesToAllViews()
{
    Bench bench;
    QTcpSocket *peers[3] = {};
    for (int n = 1; n <= 3; ++n)
        QVERIFY((peers[n - 1] = bench.connectNetwork(n)));
    QVERIFY(bench.openSerial());
    bench.helper.setColorAnswer(Qt::green);
    bench.widget<QPushButton>("PB_NetworkInputColor")->click();
    bench.helper.setColorAnswer(Qt::blue);
    bench.widget<QPushButton>("PB_NetworkOutputColor")->click();
    QCOMPARE(bench.helper.count(), 2);

    for (int n = 1; n <= 3; ++n) {
        const QString channel = QStringLiteral("Network%1").arg(n);
        bench.send(channel, QStringLiteral("command"));
        peers[n - 1]->write("reply");
        QTRY_COMPARE(bench.view(channel)->toPlainText(), QStringLiteral("command\nreply"));
        QCOMPARE(colourOf(bench.view(channel), QStringLiteral("command")), QColor(Qt::blue));
        QCOMPARE(colourOf(bench.view(channel), QStringLiteral("reply")), QColor(Qt::green));
    }

    bench.send("SerialPort", QStringLiteral("command"));
    QVERIFY(bench.pty.write("reply"));
    QTextEdit *serialView = bench.view("SerialPort");
    QTRY_COMPARE(serialView->toPlainText(), QStringLiteral("command\nreply"));
    QCOMPARE(colourOf(serialView, QStringLiteral("command")), QColor(Qt::red));
    QCOMPARE(colourOf(serialView, QStringLiteral("reply")), QColor(Qt::black));
}

QTEST_MAIN(ColorSelectionTest)
#include "tst_colorselection.moc"
