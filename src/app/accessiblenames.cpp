#include "accessiblenames.h"

#include "ui_mainwindow.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QCoreApplication>

namespace {

// On Linux Qt names a combo box after its current item, so a screen reader would announce
// "9600" where a sighted user reads "Band Rate". This one takes its name like any other field
// (its accessible name, else its label) and keeps the item as its value; the rest is what Qt's
// own combo box interface does. Qt's bridge to the accessibility bus carries no text value, only
// numbers, so the current item also goes out as read-only text, where screen readers look for
// what a combo box shows.
class AccessibleComboBox : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit AccessibleComboBox(QComboBox *box)
        : QAccessibleWidget(box, QAccessible::ComboBox)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        const QString current
            = comboBox()->isEditable() ? comboBox()->lineEdit()->text() : comboBox()->currentText();
        if (t == QAccessible::Value)
            return current;
        const QString text = QAccessibleWidget::text(t);
        return text.isEmpty() && t == QAccessible::Name ? current : text;
    }

    int childCount() const override { return comboBox()->isEditable() ? 2 : 1; }

    QAccessibleInterface *child(int index) const override
    {
        if (index == 0)
            return QAccessible::queryAccessibleInterface(comboBox()->view());
        if (index == 1 && comboBox()->isEditable())
            return QAccessible::queryAccessibleInterface(comboBox()->lineEdit());
        return nullptr;
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        if (child->object() == comboBox()->view())
            return 0;
        if (comboBox()->isEditable() && child->object() == comboBox()->lineEdit())
            return 1;
        return -1;
    }

    QAccessibleInterface *childAt(int x, int y) const override
    {
        if (comboBox()->isEditable() && comboBox()->lineEdit()->rect().contains(x, y))
            return child(1);
        return nullptr;
    }

    QStringList actionNames() const override
    {
        return QStringList { showMenuAction(), pressAction() } + QAccessibleWidget::actionNames();
    }

    void doAction(const QString &actionName) override
    {
        if (actionName != showMenuAction() && actionName != pressAction()) {
            QAccessibleWidget::doAction(actionName);
            return;
        }
        if (comboBox()->view()->isVisible())
            comboBox()->hidePopup();
        else
            comboBox()->showPopup();
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface && !comboBox()->isEditable())
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(int startOffset, int endOffset) const override
    {
        return current().mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return current().size(); }
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override { }
    int selectionCount() const override { return 0; }
    void selection(int, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = 0;
    }
    void addSelection(int, int) override { }
    void removeSelection(int) override { }
    void setSelection(int, int, int) override { }
    QString attributes(int offset, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = offset;
        return {};
    }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint &) const override { return -1; }
    void scrollToSubstring(int, int) override { }

private:
    QComboBox *comboBox() const { return static_cast<QComboBox *>(widget()); }
    QString current() const { return comboBox()->currentText(); }
};

QAccessibleInterface *comboBoxFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("QComboBox") && object && object->isWidgetType())
        return new AccessibleComboBox(static_cast<QComboBox *>(object));
    return nullptr;
}

QString translated(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

} // namespace

void nameAccessibleControls(Ui::MainWindow *ui)
{
    static const bool comboBoxesNamed = (QAccessible::installFactory(comboBoxFactory), true);
    Q_UNUSED(comboBoxesNamed)

    const std::pair<QLabel *, QWidget *> buddies[] = {
        { ui->label, ui->CB_SerialPort },
        { ui->label_6, ui->CB_BandRate },
        { ui->label_3, ui->CB_DataBit },
        { ui->label_2, ui->CB_Parity },
        { ui->label_4, ui->CB_StopBit },
        { ui->label_5, ui->CB_FlowControl },
        { ui->label_9, ui->PB_SerialInputColor },
        { ui->label_10, ui->PB_SerialOutputColor },
        { ui->label_7, ui->LE_IPAddress1 },
        { ui->label_8, ui->LE_Port1 },
        { ui->label_16, ui->PB_NetworkInputColor },
        { ui->label_17, ui->PB_NetworkOutputColor },
    };
    for (const auto &[label, field] : buddies)
        label->setBuddy(field);

    // Two labels read "Input Color" and two "Output Color"; the names say whose colour it is.
    const std::pair<QWidget *, const char *> colours[] = {
        { ui->PB_SerialInputColor, QT_TRANSLATE_NOOP("MainWindow", "Serial input colour") },
        { ui->PB_SerialOutputColor, QT_TRANSLATE_NOOP("MainWindow", "Serial output colour") },
        { ui->PB_NetworkInputColor, QT_TRANSLATE_NOOP("MainWindow", "Network input colour") },
        { ui->PB_NetworkOutputColor, QT_TRANSLATE_NOOP("MainWindow", "Network output colour") },
    };
    for (const auto &[button, name] : colours)
        button->setAccessibleName(translated(name));

    // Without a name of its own, Qt names a group box inside another after the outer one's
    // title: "Serial Configuration" would be read as "Serial Communication".
    for (QGroupBox *box : ui->centralWidget->findChildren<QGroupBox *>())
        box->setAccessibleName(box->title());
    // It sits in the first network panel but serves all three.
    ui->groupBox_6->setAccessibleDescription(
        translated("Address, port and colours shared by the three network channels"));
}
