#include "aboutdialog.h"
#include "application.h"
#include "windowfixture.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMetaMethod>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>

namespace {

// Objects that the form names; Qt's own helpers (spin box editors, the main window layout,
// status bar internals) and the About dialog's widgets are left out.
bool isFormObject(const QObject *object)
{
    const QString name = object->objectName();
    if (name.isEmpty() || name.startsWith(QLatin1String("qt_")) || name.startsWith('_'))
        return false;
    for (const QObject *o = object; o; o = o->parent())
        if (qobject_cast<const AboutDialog *>(o))
            return false;
    return true;
}

QStringList formObjectNames(const QObject *root, const QByteArray &className)
{
    QStringList names;
    for (const QObject *object : root->findChildren<QObject *>())
        if (isFormObject(object) && className == object->metaObject()->className())
            names << object->objectName();
    return names;
}

// The form's names carry their class in a prefix.
QByteArray classOf(const QString &name)
{
    if (name == QLatin1String("TE_SerialPort"))
        return "Console";
    const QStringList prefixes
        = QStringLiteral(
              "CB_=QComboBox PB_=QPushButton RB_=QRadioButton LE_=QLineEdit SB_=QSpinBox "
              "TE_=QTextEdit "
              "label=QLabel groupBox=QGroupBox gridLayout=QGridLayout horizontalLayout=QHBoxLayout "
              "verticalLayout=QVBoxLayout")
              .split(' ');
    for (const QString &prefix : prefixes)
        if (name.startsWith(prefix.section('=', 0, 0)))
            return prefix.section('=', 1).toLatin1();
    return {};
}

QString itemName(QLayoutItem *item)
{
    if (item->widget())
        return item->widget()->objectName();
    return item->layout() ? item->layout()->objectName() : QStringLiteral("spacer");
}

} // namespace

class MainWindowFormTest : public QObject {
    Q_OBJECT

private slots:
    void counts_data();
    void counts();
    void layouts_data();
    void layouts();
    void texts_data();
    void texts();
    void properties();
    void windowAndMenus();
    void slotTable_data();
    void slotTable();

    void aboutActionOpensDialogWindowModal();
    void fitsSmallScreens_data();
    void fitsSmallScreens();
    void shownMaximizedUnlessPlaced_data();
    void shownMaximizedUnlessPlaced();

private:
    WindowFixture m_fixture;
    MainWindow &m_window = m_fixture.window(); // left untouched; the behaviour tests build theirs
};

void MainWindowFormTest::counts_data()
{
    QTest::addColumn<QByteArray>("className");
    QTest::addColumn<int>("count");
    const std::pair<const char *, int> rows[] = {
        { "QAction", 2 },      { "QGroupBox", 6 },    { "QComboBox", 6 },   { "QLabel", 24 },
        { "QPushButton", 20 }, { "QRadioButton", 8 }, { "QLineEdit", 14 },  { "QSpinBox", 4 },
        { "Console", 1 },      { "QTextEdit", 3 },    { "QGridLayout", 2 }, { "QHBoxLayout", 9 },
        { "QVBoxLayout", 5 },  { "QMenuBar", 1 },     { "QMenu", 2 },       { "QStatusBar", 1 }
    };
    for (const auto &[className, count] : rows)
        QTest::newRow(className) << QByteArray(className) << count;
}

void MainWindowFormTest::counts()
{
    QFETCH(QByteArray, className);
    QFETCH(int, count);
    QCOMPARE(formObjectNames(&m_window, className).size(), count);
}

void MainWindowFormTest::layouts_data()
{
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<int>("margin");
    QTest::addColumn<QStringList>("items"); // grids: cells row by row
    auto row = [](const QString &name, const char *parent, int margin, const QString &items) {
        QTest::newRow(qPrintable(name))
            << QString::fromLatin1(parent) << margin << items.split(' ');
    };
    row("horizontalLayout_7", "centralWidget", 11, "groupBox_2 verticalLayout_5");
    row("verticalLayout_5", "horizontalLayout_7", 0, "groupBox_3 groupBox_4 groupBox_5");
    row("verticalLayout_2", "groupBox_2", 11,
        "groupBox horizontalLayout TE_SerialPort horizontalLayout_2");
    row("gridLayout", "groupBox", 11,
        "label CB_SerialPort label_6 CB_BandRate label_3 CB_DataBit "
        "label_4 CB_StopBit label_2 CB_Parity label_5 CB_FlowControl "
        "label_9 PB_SerialInputColor label_10 PB_SerialOutputColor spacer spacer");
    row("horizontalLayout", "verticalLayout_2", 0,
        "RB_SerialAscii RB_SerialHex LE_SerialSentCount label_18 LE_SerialRecvCount label_19 "
        "PB_ClearSerialPort PB_OpenSerialPort");
    row("horizontalLayout_2", "verticalLayout_2", 0,
        "LE_SerialPortCmd PB_SendSerialPort SB_SerialTimerSecond label_12 PB_SerialTimerStart");
    row("gridLayout_2", "groupBox_6", 11,
        "label_7 LE_IPAddress1 label_8 LE_Port1 "
        "label_16 PB_NetworkInputColor label_17 PB_NetworkOutputColor");
    const char *panels[][7] = { { "verticalLayout", "groupBox_3", "horizontalLayout_3",
                                  "horizontalLayout_5", "label_24", "label_25", "label_15" },
                                { "verticalLayout_4", "groupBox_4", "horizontalLayout_4",
                                  "horizontalLayout_8", "label_26", "label_27", "label_20" },
                                { "verticalLayout_3", "groupBox_5", "horizontalLayout_6",
                                  "horizontalLayout_9", "label_28", "label_29", "label_23" } };
    for (int n = 1; n <= 3; ++n) {
        const auto &p = panels[n - 1];
        row(p[0], p[1], 11,
            QStringLiteral("%1%2 TE_Network%3 %4")
                .arg(n == 1 ? "groupBox_6 " : "", p[2], QString::number(n), p[3]));
        row(p[2], p[0], 0,
            QStringLiteral("RB_Network%1Ascii RB_Network%1Hex LE_Network%1SentCount %2 "
                           "LE_Network%1RecvCount %3 PB_ClearNetwork%1 PB_ConnectNetwork%1")
                .arg(n)
                .arg(p[4], p[5]));
        row(p[3], p[0], 0,
            QStringLiteral("LE_Network%1Cmd PB_SendNetwork%1 SB_Network%1TimerSecond %2 "
                           "PB_Network%1TimerStart")
                .arg(n)
                .arg(p[6]));
    }
}

void MainWindowFormTest::layouts()
{
    QFETCH(QString, parentName);
    QFETCH(int, margin);
    QFETCH(QStringList, items);
    const QString name = QLatin1String(QTest::currentDataTag());
    auto *layout = m_window.centralWidget()->findChild<QLayout *>(name);
    QVERIFY(layout);
    QCOMPARE(layout->metaObject()->className(), classOf(name).constData());
    QCOMPARE(layout->parent()->objectName(), parentName);
    QCOMPARE(layout->spacing(), 6);
    QCOMPARE(layout->contentsMargins(), QMargins(margin, margin, margin, margin));

    auto *grid = qobject_cast<QGridLayout *>(layout);
    QStringList found;
    if (grid)
        found = QVector<QString>(grid->rowCount() * grid->columnCount()).toList();
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        QCOMPARE(item->alignment(), Qt::Alignment());
        if (QWidget *widget = item->widget()) {
            QCOMPARE(widget->metaObject()->className(), classOf(widget->objectName()).constData());
            QCOMPARE(widget->parentWidget(), layout->parentWidget());
        }
        if (!grid) {
            QCOMPARE(qobject_cast<QBoxLayout *>(layout)->stretch(i), 0);
            found << itemName(item);
            continue;
        }
        int row, column, rowSpan, columnSpan;
        grid->getItemPosition(i, &row, &column, &rowSpan, &columnSpan);
        for (int c = column; c < column + columnSpan; ++c)
            found[row * grid->columnCount() + c] = itemName(item);
        if (QSpacerItem *spacer = item->spacerItem()) {
            QCOMPARE(spacer->sizeHint(), QSize(150, 20));
            QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
            QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);
        }
    }
    QCOMPARE(found, items);
}

void MainWindowFormTest::texts_data()
{
    QTest::addColumn<QString>("text");
    QStringList entries
        = QStringLiteral(
              "groupBox_2=Serial Communication|groupBox=Serial Configuration|label=Serial Port|"
              "label_6=Band Rate|label_3=Data Bit|label_4=Stop Bit|label_2=Parity|"
              "label_5=Flow Control|label_9=Input Color|label_10=Output Color|RB_SerialAscii=ASCII|"
              "RB_SerialHex=HEX|label_18=SENT|label_19=RECV|PB_ClearSerialPort=Clear|"
              "PB_OpenSerialPort=Open|PB_SendSerialPort=Send|label_12=ms|PB_SerialTimerStart=Start|"
              "groupBox_6=Network Configuration|label_7=IP Address|label_8=Port|"
              "label_16=Input Color|label_17=Output Color")
              .split('|');
    const char *labels[][3] = { { "label_24", "label_25", "label_15" },
                                { "label_26", "label_27", "label_20" },
                                { "label_28", "label_29", "label_23" } };
    for (int n = 1; n <= 3; ++n)
        entries << QStringLiteral("groupBox_%1=Network Communication %2").arg(n + 2).arg(n)
                << QStringLiteral("RB_Network%1Ascii=ASCII|RB_Network%1Hex=HEX|%2=SENT|%3=RECV|"
                                  "PB_ClearNetwork%1=Clear|PB_ConnectNetwork%1=Connect|"
                                  "PB_SendNetwork%1=Send|%4=ms|PB_Network%1TimerStart=Start")
                       .arg(n)
                       .arg(labels[n - 1][0], labels[n - 1][1], labels[n - 1][2])
                       .split('|');
    for (const QString &entry : qAsConst(entries))
        QTest::newRow(qPrintable(entry.section('=', 0, 0))) << entry.section('=', 1);
}

void MainWindowFormTest::texts()
{
    QFETCH(QString, text);
    const QWidget *widget = m_window.findChild<QWidget *>(QLatin1String(QTest::currentDataTag()));
    QVERIFY(widget);
    if (const auto *box = qobject_cast<const QGroupBox *>(widget))
        QCOMPARE(box->title(), text);
    else if (const auto *label = qobject_cast<const QLabel *>(widget))
        QCOMPARE(label->text(), text);
    else
        QCOMPARE(qobject_cast<const QAbstractButton *>(widget)->text(), text);
}

void MainWindowFormTest::properties()
{
    QStringList checkable;
    for (const QString &name : formObjectNames(&m_window, "QPushButton")) {
        const auto *button = m_window.findChild<QPushButton *>(name);
        QVERIFY2(!button->isChecked(), qPrintable(name));
        if (button->isCheckable())
            checkable << name;
    }
    checkable.sort();
    QCOMPARE(checkable,
             QStringList({ "PB_ConnectNetwork1", "PB_ConnectNetwork2", "PB_ConnectNetwork3",
                           "PB_Network1TimerStart", "PB_Network2TimerStart",
                           "PB_Network3TimerStart", "PB_OpenSerialPort", "PB_SerialTimerStart" }));
    for (const QString &name : formObjectNames(&m_window, "QRadioButton"))
        QCOMPARE(m_window.findChild<QRadioButton *>(name)->isChecked(), name.endsWith("Ascii"));
    // The port is picked from the list, or given on the command line; the line's settings only
    // from their lists.
    for (const QString &name : formObjectNames(&m_window, "QComboBox"))
        QVERIFY2(!m_window.findChild<QComboBox *>(name)->isEditable(), qPrintable(name));
    for (const QString &name : formObjectNames(&m_window, "QSpinBox")) {
        const auto *box = m_window.findChild<QSpinBox *>(name);
        QCOMPARE(QVector<int>({ box->minimum(), box->maximum(), box->singleStep() }),
                 QVector<int>({ 100, 10000, 100 }));
    }
    for (const QString &name : formObjectNames(&m_window, "QGroupBox")) {
        const bool panel = m_window.findChild<QGroupBox *>(name)->parent()
            == m_window.findChild<QWidget *>("centralWidget");
        QCOMPARE(m_window.findChild<QGroupBox *>(name)->alignment(),
                 panel ? Qt::AlignCenter : Qt::AlignLeft);
    }
    // Address, port and commands are ordinary editable entries; the counters are records that
    // can be read, focused and copied, not typed into.
    for (const QString &name : formObjectNames(&m_window, "QLineEdit")) {
        auto *edit = m_window.findChild<QLineEdit *>(name);
        const bool counter = name.endsWith("Count");
        QCOMPARE(edit->alignment(),
                 counter ? Qt::AlignRight | Qt::AlignVCenter : Qt::AlignLeft | Qt::AlignVCenter);
        QVERIFY2(edit->isReadOnly() == counter && !edit->validator() && edit->inputMask().isEmpty()
                     && edit->maxLength() == 32767,
                 qPrintable(name));
        if (counter) {
            QVERIFY(edit->focusPolicy() & Qt::TabFocus);
            const QString before = edit->text();
            QTest::keyClicks(edit, QStringLiteral("12"));
            QCOMPARE(edit->text(), before);
        }
    }
    // The network views are records of the traffic: read-only, yet selectable, and Tab leaves
    // them for their command line. The serial view is the raw terminal.
    m_window.show();
    m_window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&m_window));
    for (const QString &name : formObjectNames(&m_window, "QTextEdit")) {
        auto *view = m_window.findChild<QTextEdit *>(name);
        const bool network = name.startsWith(QLatin1String("TE_Network"));
        QCOMPARE(view->isReadOnly(), network);
        QCOMPARE(view->tabChangesFocus(), network);
        QVERIFY(view->textInteractionFlags() & Qt::TextSelectableByMouse);
        view->setFocus();
        QTest::keyClicks(view, QStringLiteral("typed"));
        QTest::keyClick(view, Qt::Key_Tab);
        QCOMPARE(view->toPlainText(), QString());
        QTRY_COMPARE(QApplication::focusWidget()->objectName(), "LE_" + name.mid(3) + "Cmd");
    }
    // A counter paints what lies beneath it itself: drawn alone and on the screen it looks as
    // the window draws it with its group box painted beneath.
    auto *counter = m_window.findChild<QLineEdit *>(QStringLiteral("LE_Network1SentCount"));
    QTRY_VERIFY(counter->testAttribute(Qt::WA_OpaquePaintEvent));
    counter->setText(QStringLiteral("61"));
    const QRect area(counter->mapTo(&m_window, QPoint()), counter->size());
    counter->setAttribute(Qt::WA_OpaquePaintEvent, false);
    const QImage drawn = m_window.grab(area).toImage().convertToFormat(QImage::Format_RGB32);
    counter->setAttribute(Qt::WA_OpaquePaintEvent);
    QCOMPARE(counter->grab().toImage().convertToFormat(QImage::Format_RGB32), drawn);
    QTRY_COMPARE(counter->screen()
                     ->grabWindow(m_window.winId(), area.x(), area.y(), area.width(), area.height())
                     .toImage()
                     .convertToFormat(QImage::Format_RGB32),
                 drawn);
    m_window.hide();
}

void MainWindowFormTest::windowAndMenus()
{
    QCOMPARE(m_window.windowTitle(), QStringLiteral("TeskManager"));
    // The form's central widget, in a scroll area for screens smaller than the form.
    auto *scrollArea = qobject_cast<QScrollArea *>(m_window.centralWidget());
    QVERIFY(scrollArea);
    QCOMPARE(scrollArea->widget()->objectName(), QStringLiteral("centralWidget"));
    QCOMPARE(m_window.statusBar(), m_window.findChild<QStatusBar *>("statusBar"));
    QMenuBar *bar = m_window.menuBar();
    QCOMPARE(bar->objectName(), QStringLiteral("menuBar"));
    auto *menuFile = bar->findChild<QMenu *>("menuFile");
    auto *menuHelp = bar->findChild<QMenu *>("menuHelp");
    QVERIFY(menuFile && menuHelp);
    QCOMPARE(bar->actions(), QList<QAction *>({ menuFile->menuAction(), menuHelp->menuAction() }));
    QCOMPARE(menuFile->title(), QStringLiteral("File"));
    QCOMPARE(menuHelp->title(), QStringLiteral("Help"));

    auto *exit = m_window.findChild<QAction *>("actionExit");
    auto *about = m_window.findChild<QAction *>("actionAbout");
    QVERIFY(exit && about);
    QCOMPARE(menuFile->actions(), QList<QAction *>({ exit }));
    QCOMPARE(menuHelp->actions(), QList<QAction *>({ about }));
    QCOMPARE(exit->text(), QStringLiteral("Exit"));
    QCOMPARE(about->text(), QStringLiteral("About"));
    for (const QAction *action : { exit, about })
        QVERIFY(action->parent() == &m_window && action->shortcut().isEmpty()
                && action->icon().isNull() && action->statusTip().isEmpty());
}

void MainWindowFormTest::slotTable_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArrayList>("parameterNames");
    const QStringList table
        = QStringLiteral(
              "loadSettings();saveSettings();serialOpenCloseButtonClicked(bool b);openSerialPort();"
              "closeSerialPort();readData();readSerialPort();writeData(QByteArray data);"
              "handleError(QSerialPort::SerialPortError error);setSerialAsciiHexMode(int id);"
              "clearSerialPort();sendSerialPort();setColor();serialTimerStartClicked(bool b);"
              "clearNetwork1();clearNetwork2();clearNetwork3();setNetwork1AsciiHexMode(int id);"
              "setNetwork2AsciiHexMode(int id);setNetwork3AsciiHexMode(int "
              "id);connectNetwork1(bool b);"
              "connectNetwork2(bool b);connectNetwork3(bool b);"
              "displayError(QAbstractSocket::SocketError "
              "socketError);sendNetwork1();sendNetwork2();"
              "sendNetwork3();readNetwork1();readNetwork2();readNetwork3();"
              "network1TimerStartClicked(bool b);network2TimerStartClicked(bool b);"
              "network3TimerStartClicked(bool b)")
              .split(';');
    int index = 0;
    for (const QString &entry : table) {
        // "f(T name)" gives the signature "f(T)" and the parameter name "name".
        QByteArray signature = entry.toLatin1();
        QByteArrayList names;
        const int space = signature.lastIndexOf(' ');
        if (space > 0) {
            names << signature.mid(space + 1).chopped(1);
            signature = signature.left(space) + ')';
        }
        QTest::newRow(signature.constData()) << index++ << names;
    }
}

void MainWindowFormTest::slotTable()
{
    QFETCH(int, index);
    QFETCH(QByteArrayList, parameterNames);
    const QMetaObject &meta = MainWindow::staticMetaObject;
    QCOMPARE(meta.methodCount() - meta.methodOffset(), 33); // no signals of its own
    const QMetaMethod method = meta.method(meta.methodOffset() + index);
    QCOMPARE(method.methodSignature(), QByteArray(QTest::currentDataTag()));
    QCOMPARE(method.parameterNames(), parameterNames);
    QCOMPARE(method.methodType(), QMetaMethod::Slot);
    QCOMPARE(method.access(), QMetaMethod::Private);
    QCOMPARE(method.returnType(), int(QMetaType::Void));
}

void MainWindowFormTest::aboutActionOpensDialogWindowModal()
{
    // The fixture's helper: a dialog run by exec() would block the trigger until rejected.
    WindowFixture fixture;
    auto *about = fixture.widget<QAction>("actionAbout");
    auto *dialog = fixture.widget<AboutDialog>("AboutDialog");
    const QString line = dialog->findChild<QLabel *>("LB_Version")->text();
    QVERIFY(!dialog->isVisible());
    about->trigger();
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->windowModality(), Qt::WindowModal);
    QCOMPARE(dialog->parentWidget(), &fixture.window());

    // Opened again, it is the same dialog.
    dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Close)->click();
    QVERIFY(!dialog->isVisible());
    about->trigger();
    QVERIFY(dialog->isVisible());
    QCOMPARE(fixture.window().findChildren<AboutDialog *>(), QList<AboutDialog *> { dialog });
    QCOMPARE(dialog->windowTitle(), QStringLiteral("About"));
    QCOMPARE(dialog->findChild<QLabel *>("LB_Version")->text(), line);
    dialog->reject();
}

void MainWindowFormTest::fitsSmallScreens_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("scrolls");
    // 1280x720 less a title bar and a panel.
    QTest::newRow("1280x660: every control in view") << QSize(1280, 660) << false;
    QTest::newRow("1024x600: the panels scroll to the last row") << QSize(1024, 600) << true;
}

void MainWindowFormTest::fitsSmallScreens()
{
    QFETCH(QSize, size);
    QFETCH(bool, scrolls);
    const QFont font = QApplication::font();
    const auto restore = qScopeGuard([font] { QApplication::setFont(font); });
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
    WindowFixture fixture;
    MainWindow &window = fixture.window();
    QVERIFY(window.minimumSizeHint().boundedTo(size) == window.minimumSizeHint());
    window.resize(size);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.size(), size);

    auto *scrollArea = qobject_cast<QScrollArea *>(window.centralWidget());
    QWidget *lastRow = fixture.timerButton(3);
    QCOMPARE(scrollArea->verticalScrollBar()->maximum() > 0, scrolls);
    if (!scrolls)
        QCOMPARE(scrollArea->horizontalScrollBar()->maximum(), 0);
    scrollArea->ensureWidgetVisible(lastRow);
    const QRect shown(lastRow->mapTo(scrollArea->viewport(), QPoint()), lastRow->size());
    QVERIFY(scrollArea->viewport()->rect().contains(shown));
}

void MainWindowFormTest::shownMaximizedUnlessPlaced_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("maximized");
    QTest::newRow("no options") << QStringList() << true;
    QTest::newRow("other Qt options") << QStringList { "-style", "fusion" } << true;
    QTest::newRow("-geometry") << QStringList { "-geometry", "800x600+10+20" } << false;
    QTest::newRow("--geometry") << QStringList { "--geometry", "800x600" } << false;
    QTest::newRow("-qwindowgeometry") << QStringList { "-qwindowgeometry", "800x600" } << false;
}

void MainWindowFormTest::shownMaximizedUnlessPlaced()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, maximized);
    WindowFixture fixture;
    showMainWindow(&fixture.window(), QStringList { "teskmanager" } + arguments);
    QVERIFY(QTest::qWaitForWindowExposed(&fixture.window()));
    QCOMPARE(fixture.window().isMaximized(), maximized);
}

QTEST_MAIN(MainWindowFormTest)
#include "tst_mainwindowform.moc"
