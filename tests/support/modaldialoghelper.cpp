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
    m_timer.start(5);
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

void ModalDialogHelper::poll()
{
    const auto widgets = QApplication::topLevelWidgets();
    for (QWidget *widget : widgets) {
        auto *dialog = qobject_cast<QDialog *>(widget);
        if (!dialog || !dialog->isVisible())
            continue;
        if (auto *box = qobject_cast<QMessageBox *>(dialog)) {
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
        } else if (auto *colorDialog = qobject_cast<QColorDialog *>(dialog)) {
            m_records.append({ QStringLiteral("QColorDialog"), colorDialog->windowTitle(), {} });
            emit answered(colorDialog->windowTitle(), {});
            if (m_color.isValid()) {
                colorDialog->setCurrentColor(m_color);
                colorDialog->accept();
            } else {
                colorDialog->reject();
            }
        } else if (m_handleOthers && dialog->isModal()) {
            m_records.append({ QString::fromLatin1(dialog->metaObject()->className()),
                               dialog->windowTitle(),
                               {} });
            emit answered(dialog->windowTitle(), {});
            dialog->reject();
        }
    }
}
