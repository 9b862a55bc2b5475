#include "viewchecks.h"
#include "windowfixture.h"

#include <QColorDialog>
#include <QtTest>

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
    WindowFixture fixture;
    QCOMPARE(fixture.widget<QPushButton>(name)->text(), caption);
    QCOMPARE(fixture.widget<QPushButton>(name)->styleSheet(), "background-color:" + caption);
}

void ColorSelectionTest::dialogShowsCurrentColour()
{
    WindowFixture fixture;
    QList<QColor> initial;
    connect(&fixture.dialogs, &ModalDialogHelper::answered, this, [&] {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *dialog = qobject_cast<QColorDialog *>(widget);
                dialog && dialog->isVisible()) {
                initial << dialog->currentColor();
                QCOMPARE(dialog->parentWidget(), &fixture.window());
                QCOMPARE(dialog->options(), QColorDialog::ColorDialogOptions());
            }
    });
    auto *networkOutput = fixture.widget<QPushButton>("PB_NetworkOutputColor");

    fixture.dialogs.setColorAnswer(Qt::blue);
    networkOutput->click();
    fixture.dialogs.setColorAnswer(QColor()); // cancel
    networkOutput->click();
    networkOutput->click();

    QCOMPARE(fixture.dialogs.titles(),
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
    WindowFixture fixture;
    QVERIFY(fixture.open(serial));
    fixture.send(serial, QStringLiteral("before"));
    fixture.dialogs.setColorAnswer(answer);
    auto *serialOutput = fixture.widget<QPushButton>("PB_SerialOutputColor");
    serialOutput->click();
    QCOMPARE(fixture.dialogs.count(), 1);
    QCOMPARE(serialOutput->text(), expected.name());
    QCOMPARE(serialOutput->styleSheet(), "background-color:" + expected.name());

    fixture.send(serial, QStringLiteral("after"));
    QCOMPARE(colourOf(fixture.view(serial), QStringLiteral("before")), QColor(Qt::red));
    QCOMPARE(colourOf(fixture.view(serial), QStringLiteral("after")), expected);
}

void ColorSelectionTest::networkPairAppliesToAllViews()
{
    WindowFixture fixture;
    for (int channel = 0; channel < 4; ++channel)
        QVERIFY(fixture.open(channel));
    fixture.dialogs.setColorAnswer(Qt::green);
    fixture.widget<QPushButton>("PB_NetworkInputColor")->click();
    fixture.dialogs.setColorAnswer(Qt::blue);
    fixture.widget<QPushButton>("PB_NetworkOutputColor")->click();
    QCOMPARE(fixture.dialogs.count(), 2);

    for (int n = 1; n <= 3; ++n) {
        fixture.send(n, QStringLiteral("command"));
        QVERIFY(fixture.deliver(n, "reply"));
        QTRY_COMPARE(fixture.shown(n), QStringLiteral("command\nreply"));
        QCOMPARE(colourOf(fixture.view(n), QStringLiteral("command")), QColor(Qt::blue));
        QCOMPARE(colourOf(fixture.view(n), QStringLiteral("reply")), QColor(Qt::green));
    }

    fixture.send(serial, QStringLiteral("command"));
    QVERIFY(fixture.deliver(serial, "reply"));
    QTRY_COMPARE(fixture.shown(serial), QStringLiteral("command\nreply"));
    QCOMPARE(colourOf(fixture.view(serial), QStringLiteral("command")), QColor(Qt::red));
    QCOMPARE(colourOf(fixture.view(serial), QStringLiteral("reply")), QColor(Qt::black));
}

QTEST_MAIN(ColorSelectionTest)
#include "tst_colorselection.moc"
