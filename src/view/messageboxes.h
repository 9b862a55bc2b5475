#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QStatusBar;
class QWidget;

// Every box the program shows comes from here. In a person's run a box waits for its answer, as
// boxes do. A run nobody watches (a script, an end on time) must never wait for one: there the
// box's text goes to the status bar, to the log of the channel it is about and to standard error,
// one line each, and the run goes on.
class MessageBoxes {
public:
    // Writes a line of its own into the log of the channel a box is about.
    using Note = std::function<void(const QString &line)>;

    MessageBoxes(QWidget *window, QStatusBar *statusBar);

    void setUnattended(bool unattended) { m_unattended = unattended; }
    // As the run was set up, and always without a widget application: nobody could answer.
    bool unattended() const;

    // A box with a single Ok. `status`, when given, is what the status bar says once the user has
    // read the box; in a run nobody watches it leads the box's text there, in place of the title.
    void tell(QMessageBox::Icon icon, const QString &title, const QString &text,
              const Note &note = {}, const QString &status = {}) const;
    // A question; in a run nobody watches, its default answer at once.
    QMessageBox::StandardButton ask(const QString &title, const QString &text,
                                    QMessageBox::StandardButtons buttons,
                                    QMessageBox::StandardButton defaultAnswer) const;

private:
    QWidget *m_window;
    QStatusBar *m_statusBar;
    bool m_unattended = false;
};
