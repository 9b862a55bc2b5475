#include "colorselection.h"
#include "viewchecks.h"
#include "windowfixture.h"

#include <QColorDialog>
#include <QtTest>

namespace {

// A dark desktop theme: light text on a near-black base.
QPalette darkPalette()
{
    QPalette dark(QColor(0x35, 0x35, 0x35), QColor(0x2b, 0x2b, 0x2b));
    for (auto role : { QPalette::WindowText, QPalette::Text, QPalette::ButtonText })
        dark.setColor(role, QColor(0xe6, 0xe6, 0xe6));
    dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    return dark;
}

// The application's palette for one test: the dark one or the style's own.
auto usePalette(bool dark)
{
    const QPalette saved = QApplication::palette();
    if (dark)
        QApplication::setPalette(darkPalette());
    return qScopeGuard([saved] { QApplication::setPalette(saved); });
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
    void trafficReadsOnPalette_data();
    void trafficReadsOnPalette();
};

void ColorSelectionTest::startUpLook_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("dark");
    QTest::addColumn<QString>("caption"); // empty: red that keeps 3:1 on the view's base
    QTest::newRow("serial input") << "PB_SerialInputColor" << false << "#000000";
    QTest::newRow("serial output") << "PB_SerialOutputColor" << false << "#ff0000";
    QTest::newRow("network input") << "PB_NetworkInputColor" << false << "#000000";
    QTest::newRow("network output") << "PB_NetworkOutputColor" << false << "#ff0000";
    QTest::newRow("serial input, dark palette") << "PB_SerialInputColor" << true << "#e6e6e6";
    QTest::newRow("network output, dark palette") << "PB_NetworkOutputColor" << true << "";
}

void ColorSelectionTest::startUpLook()
{
    QFETCH(QString, name);
    QFETCH(bool, dark);
    QFETCH(QString, caption);
    const auto restore = usePalette(dark);
    WindowFixture fixture;
    auto *button = fixture.widget<QPushButton>(name);
    if (caption.isEmpty()) {
        caption = button->text();
        const QColor base = fixture.view(1)->palette().color(QPalette::Base);
        QVERIFY2(contrastRatio(QColor(caption), base) >= 3.0, qPrintable(caption));
        QCOMPARE(QColor(caption).hslHue(), 0);
    }
    QCOMPARE(button->text(), caption);
    QCOMPARE(button->styleSheet(), "background-color:" + caption);
    QCOMPARE(button->accessibleDescription(), caption);
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

void ColorSelectionTest::trafficReadsOnPalette_data()
{
    QTest::addColumn<bool>("dark");
    QTest::addColumn<QColor>("pickedInput"); // invalid: the default
    QTest::addColumn<QColor>("pickedOutput");
    QTest::newRow("light palette, default colours") << false << QColor() << QColor();
    QTest::newRow("dark palette, default colours") << true << QColor() << QColor();
    // Picked is picked, even black on black.
    QTest::newRow("dark palette, picked colours")
        << true << QColor(Qt::black) << QColor(Qt::darkRed);
}

void ColorSelectionTest::trafficReadsOnPalette()
{
    QFETCH(bool, dark);
    QFETCH(QColor, pickedInput);
    QFETCH(QColor, pickedOutput);
    const auto restore = usePalette(dark);
    WindowFixture fixture;
    const std::pair<const char *, const QColor &> picks[]
        = { { "PB_SerialInputColor", pickedInput },
            { "PB_NetworkInputColor", pickedInput },
            { "PB_SerialOutputColor", pickedOutput },
            { "PB_NetworkOutputColor", pickedOutput } };
    for (const auto &[name, colour] : picks)
        if (colour.isValid()) {
            fixture.dialogs.setColorAnswer(colour);
            fixture.widget<QPushButton>(name)->click();
        }

    for (int channel : { serial, 1 }) {
        QVERIFY(fixture.open(channel));
        fixture.send(channel, QStringLiteral("command"));
        QVERIFY(fixture.deliver(channel, "reply"));
        QTRY_COMPARE(fixture.shown(channel), QStringLiteral("command\nreply"));
        const QPalette palette = fixture.view(channel)->palette();
        const QColor received = colourOf(fixture.view(channel), QStringLiteral("reply"));
        const QColor sent = colourOf(fixture.view(channel), QStringLiteral("command"));
        QCOMPARE(received, pickedInput.isValid() ? pickedInput : palette.color(QPalette::Text));
        if (pickedOutput.isValid())
            QCOMPARE(sent, pickedOutput);
        else
            QVERIFY2(contrastRatio(sent, palette.color(QPalette::Base)) >= 3.0,
                     qPrintable(sent.name()));
        if (!dark)
            QCOMPARE(QVector<QColor>({ received, sent }), QVector<QColor>({ Qt::black, Qt::red }));
    }
}

QTEST_MAIN(ColorSelectionTest)
#include "tst_colorselection.moc"
