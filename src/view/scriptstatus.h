#pragma once

#include <QObject>

class QLabel;
class QStatusBar;
class ScriptSuite;

// The scripts' verdict as it builds up, in a label of its own at the status bar's end
// ("scriptStatus"), and an error on the status bar once a script has stopped on one.
class ScriptStatus : public QObject {
    Q_OBJECT

public:
    ScriptStatus(ScriptSuite &scripts, QStatusBar *statusBar);

private:
    void show();

    ScriptSuite &m_scripts;
    QStatusBar *m_statusBar;
    QLabel *m_label;
};
