#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>

class QDialog;
class QWidget;

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
    // Leaves every dialog up for this long before answering it, as a user reading it would.
    void setAnswerDelay(int ms) { m_delay = ms; }
    // Answers only while this holds (asked at every poll); an empty one always holds.
    void setAnswerCondition(std::function<bool()> condition) { m_condition = std::move(condition); }
    // Leaves the dialogs of other windows to their own helpers; those without a parent are
    // answered all the same.
    void setScope(QWidget *window) { m_scope = window; }
    // A helper at rest polls no more, so that a measure of the idle window's CPU time leaves it
    // out; a dialog that shows all the same wakes it.
    void setActive(bool active);

    const QList<Record> &records() const { return m_records; }
    int count() const { return m_records.size(); }
    QStringList titles() const;
    QStringList texts() const;
    void clear() { m_records.clear(); }

signals:
    // A dialog is up, before any delay or condition holds it back.
    void seen(const QString &title);
    // A dialog is about to be answered.
    void answered(const QString &title, const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void poll();
    bool heldBack(QDialog *dialog);

    QTimer m_timer;
    QElapsedTimer m_clock;
    QList<Record> m_records;
    QMessageBox::StandardButton m_answer = QMessageBox::Ok;
    int m_key = 0;
    QColor m_color;
    int m_delay = 0;
    std::function<bool()> m_condition;
    QPointer<QWidget> m_scope;
};
