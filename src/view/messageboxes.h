#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class Channel;
class QStatusBar;
class QWidget;

// Every box the program shows goes through here, so that a run nobody watches never waits for
// one: in such a run (--script, --quit-after) what a box would say goes to the status bar, to
// the log of the channel it is about as a noted line, and to standard error as one line, and
// the run goes on. A person's run gets its boxes.
class MessageBoxes : public QObject {
    Q_OBJECT

public:
    enum class Kind { Critical, Information, Warning };

    MessageBoxes(QWidget *window, QStatusBar *statusBar);

    void setUnattended(bool unattended) { m_unattended = unattended; }
    bool unattended() const { return m_unattended; }

    // A box with one Ok button, in front of the window; `about` is the channel it concerns.
    void tell(Kind kind, const QString &title, const QString &text, Channel *about = nullptr);
    // The question at exit: whether the run's logs stay. Only an explicit No deletes them.
    bool askKeepLogs();

signals:
    // A box was told without being shown, as it was told.
    void toldUnattended(const QString &title, const QString &text);

private:
    QPointer<QWidget> m_window;
    QPointer<QStatusBar> m_statusBar;
    bool m_unattended = false;
};
