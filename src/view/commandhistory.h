#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QLineEdit;

// Up and Down in a command line walk the commands its channel sent, newest first; Down past the
// newest gives back what was being typed. Kept in memory only: commands may hold passwords.
class CommandHistory : public QObject {
public:
    static constexpr int maxCommands = 100;

    explicit CommandHistory(QLineEdit *line);

    // A command that went out; one repeated in a row is kept once.
    void add(const QString &command);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void step(int by);

    QLineEdit *m_line;
    QStringList m_commands; // newest first
    int m_at = -1; // the command shown, -1 for what was being typed
    QString m_draft;
};
