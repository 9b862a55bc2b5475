#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A throw-away home and working directory for one test: logs and settings land there and
// never in the real home. The previous HOME and working directory come back on destruction.
class TestEnvironment {
public:
    TestEnvironment();
    ~TestEnvironment();

    // The ends of a run's four log names: serial, then network 1 to 3.
    static const QStringList logSuffixes;

    bool isValid() const { return m_dir.isValid(); }
    QString homePath() const;
    QString workPath() const;
    QString logDirPath() const; // ~/Documents/TeskManager
    QString settingsPath() const; // demosettings.ini in the working directory
    QStringList logFiles() const; // every file in the log folder, sorted by name
    // A log of the run whose serial log is the newest one; empty when there is none.
    QString logPath(const QString &suffix) const; // suffix e.g. "-network1.txt"
    // The four log names of the run with this stamp, sorted.
    static QStringList runFiles(const QString &stamp);

private:
    QTemporaryDir m_dir;
    QByteArray m_oldHome;
    QString m_oldWorkPath;
};

// Writes all of the bytes (over what the file held, unless told to append); false when it cannot.
bool writeFile(const QString &path, const QByteArray &contents,
               QIODevice::OpenMode mode = QIODevice::WriteOnly);
// The file's bytes; none when it cannot be read.
QByteArray fileContents(const QString &path);
