#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A throw-away home and working directory for one test: logs and settings land there and
// never in the real home. The previous HOME and working directory come back on destruction.
class TestEnvironment {
public:
    TestEnvironment();
    ~TestEnvironment();

    bool isValid() const { return m_dir.isValid(); }
    QString homePath() const;
    QString workPath() const;
    QString logDirPath() const; // ~/Documents/TeskManager
    QString settingsPath() const; // demosettings.ini in the working directory
    // The log files of the run whose serial log is the newest one; empty when there is none.
    QStringList logFiles() const;
    QByteArray logContents(const QString &suffix) const; // suffix e.g. "-network1.txt"

private:
    QTemporaryDir m_dir;
    QByteArray m_oldHome;
    QString m_oldWorkPath;
};
