#pragma once

#include <QObject>

class QLabel;
class QStatusBar;
class ScriptRunner;

// The script's verdict as it builds up, in a label of its own at the status bar's end
// ("scriptStatus"), and its error on the status bar once it has stopped on one.
class ScriptStatus : public QObject {
    Q_OBJECT

public:
    ScriptStatus(ScriptRunner &script, QStatusBar *statusBar);

private:
    void show();

    ScriptRunner &m_script;
    QStatusBar *m_statusBar;
    QLabel *m_label;
};
