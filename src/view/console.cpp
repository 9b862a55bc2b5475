#include "console.h"

#include <QKeyEvent>

Console::Console(QWidget *parent)
    : QTextEdit(parent)
{
    document()->setMaximumBlockCount(100);
}

void Console::mousePressEvent(QMouseEvent *e)
{
    Q_UNUSED(e)
    // Focus only: the cursor must stay at the end so that incoming text is appended there.
    setFocus(Qt::OtherFocusReason);
}

void Console::mouseDoubleClickEvent(QMouseEvent *e)
{
    Q_UNUSED(e)
}

void Console::keyPressEvent(QKeyEvent *e)
{
    // Every key belongs to the device, Tab included, so Ctrl+Tab and Ctrl+Shift+Tab are the way
    // out of the view, as in any Qt text area.
    const bool control = e->modifiers() & Qt::ControlModifier;
    if (control && (e->key() == Qt::Key_Tab || e->key() == Qt::Key_Backtab)) {
        const bool next = e->key() == Qt::Key_Tab && !(e->modifiers() & Qt::ShiftModifier);
        // QTextEdit's own version keeps the focus in an editable view.
        QWidget::focusNextPrevChild(next);
        return;
    }
    switch (e->key()) {
    case Qt::Key_Backspace: {
        // Never erase into the device's prompt.
        const QString text = toPlainText();
        if (text.lastIndexOf(QLatin1String("> ")) + 2 == text.length())
            return;
        textCursor().deletePreviousChar();
        emit getData(e->text().toLocal8Bit());
        return;
    }
    case Qt::Key_Left:
    case Qt::Key_Up:
    case Qt::Key_Right:
    case Qt::Key_Down:
        return;
    default:
        emit getData(e->text().toLocal8Bit());
    }
}

void Console::contextMenuEvent(QContextMenuEvent *e)
{
    Q_UNUSED(e)
}
