#include "modaldialoghelper.h"

#include <QAbstractButton>
#include <QApplication>
#include <QColorDialog>
#include <QDialog>
#include <QPushButton>
#include <QTest>

ModalDialogHelper::ModalDialogHelper(QObject *parent)
    : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, &ModalDialogHelper::poll);
    setActive(true);
    m_clock.start();
}

void ModalDialogHelper::setActive(bool active)
{
    active ? m_timer.start(5) : m_timer.stop();
    active ? qApp->removeEventFilter(this) : qApp->installEventFilter(this);
}

bool ModalDialogHelper::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show && watched->isWidgetType()
        && static_cast<QWidget *>(watched)->isModal())
        setActive(true);
    return false;
}

QStringList ModalDialogHelper::titles() const
{
    QStringList list;
    for (const Record &record : m_records)
        list << record.title;
    return list;
}

QStringList ModalDialogHelper::texts() const
{
    QStringList list;
    for (const Record &record : m_records)
        list << record.text;
    return list;
}

namespace {
// When the helper first met a dialog, kept on the dialog itself.
const char seenAt[] = "modalDialogHelperSeenAt";
} // namespace

bool ModalDialogHelper::heldBack(QDialog *dialog)
{
    if (!dialog->property(seenAt).isValid()) {
        dialog->setProperty(seenAt, m_clock.elapsed());
        emit seen(dialog->windowTitle());
    }
    if (m_clock.elapsed() - dialog->property(seenAt).toLongLong() < m_delay
        || (m_condition && !m_condition()))
        return true;
    // A dialog that is shown again (the About box) is met afresh.
    dialog->setProperty(seenAt, QVariant());
    return false;
}

void ModalDialogHelper::poll()
{
    const auto widgets = QApplication::topLevelWidgets();
    for (QWidget *widget : widgets) {
        auto *dialog = qobject_cast<QDialog *>(widget);
        if (!dialog || !dialog->isVisible()
            || (m_scope && dialog->parentWidget() && dialog->parentWidget()->window() != m_scope))
            continue;
        auto *box = qobject_cast<QMessageBox *>(dialog);
        auto *colorDialog = qobject_cast<QColorDialog *>(dialog);
        if ((!box && !colorDialog && !dialog->isModal()) || heldBack(dialog))
            continue;
        if (box) {
            m_records.append({ QStringLiteral("QMessageBox"), box->windowTitle(), box->text() });
            QAbstractButton *button = box->button(m_answer);
            if (!button)
                button = box->escapeButton() ? box->escapeButton() : box->defaultButton();
            emit answered(box->windowTitle(), box->text());
            if (m_key)
                QTest::keyClick(box, Qt::Key(m_key));
            else if (button)
                button->click();
            else
                box->reject();
        } else if (colorDialog) {
            m_records.append({ QStringLiteral("QColorDialog"), colorDialog->windowTitle(), {} });
            emit answered(colorDialog->windowTitle(), {});
            if (m_color.isValid()) {
                colorDialog->setCurrentColor(m_color);
                colorDialog->accept();
            } else {
                colorDialog->reject();
            }
        } else {
            m_records.append({ QString::fromLatin1(dialog->metaObject()->className()),
                               dialog->windowTitle(),
                               {} });
            emit answered(dialog->windowTitle(), {});
            dialog->reject();
        }
    }
}
