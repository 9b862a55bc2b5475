#pragma once

#include <QColor>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>

// Answers every modal dialog that a test provokes, so that no test can hang on one: message
// boxes get the chosen button, the colour dialog the chosen colour (or Cancel), any other dialog
// is rejected. Each dialog met is recorded with its class, window title and text.
class ModalDialogHelper : public QObject {
    Q_OBJECT

public:
    struct Record {
        QString className;
        QString title;
        QString text;
    };

    explicit ModalDialogHelper(QObject *parent = nullptr);

    // The button pressed on message boxes; when a box lacks it, its escape or default button.
    void setMessageBoxAnswer(QMessageBox::StandardButton button) { m_answer = button; }
    // Answers message boxes with this key instead (Return, Escape); 0 goes back to buttons.
    void setMessageBoxKey(int key) { m_key = key; }
    // The colour picked in a colour dialog; an invalid colour cancels the dialog.
    void setColorAnswer(const QColor &color) { m_color = color; }
    // Whether plain dialogs (not message boxes or colour dialogs) are rejected too.
    void setHandleOtherDialogs(bool handle) { m_handleOthers = handle; }

    const QList<Record> &records() const { return m_records; }
    int count() const { return m_records.size(); }
    QStringList titles() const;
    QStringList texts() const;
    void clear() { m_records.clear(); }

signals:
    void answered(const QString &title, const QString &text);

private:
    void poll();

    QTimer m_timer;
    QList<Record> m_records;
    QMessageBox::StandardButton m_answer = QMessageBox::Ok;
    int m_key = 0;
    QColor m_color;
    bool m_handleOthers = true;
};
