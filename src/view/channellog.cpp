#include "mainwindow.h"

#include "ui_mainwindow.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTextCodec>

namespace {
const char *const logSuffixes[]
    = { "-serial.txt", "-network1.txt", "-network2.txt", "-network3.txt" };
}

void MainWindow::createChannelLogs()
{
    QDir dir(QDir::homePath() + QStringLiteral("/Documents/TeskManager/"));
    if (!dir.exists())
        dir.mkpath(QStringLiteral("."));

    // Two runs started within the same second must not share (and truncate) each other's logs:
    // the stamp gets "_2", "_3", ... until all four names are free.
    const QString stamp
        = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss"));
    QString prefix;
    for (int attempt = 1;; ++attempt) {
        prefix = dir.absolutePath() + QLatin1Char('/') + stamp;
        if (attempt > 1)
            prefix += QLatin1Char('_') + QString::number(attempt);
        bool free = true;
        for (const char *suffix : logSuffixes)
            free = free && !QFile::exists(prefix + QLatin1String(suffix));
        if (free)
            break;
    }

    QFile **files[] = { &serialLogFile, &network1LogFile, &network2LogFile, &network3LogFile };
    QFile *firstFailure = nullptr;
    for (int i = 0; i < 4; ++i) {
        *files[i] = new QFile(prefix + QLatin1String(logSuffixes[i]));
        // NewOnly: even a file that appeared since the check above is never truncated.
        // Unbuffered: every append is flushed at once anyway, and a buffer would keep growing
        // with text that a full disk refuses.
        if (!(*files[i])->open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::NewOnly
                               | QIODevice::Unbuffered)
            && !firstFailure)
            firstFailure = *files[i];
    }
    if (firstFailure)
        reportLogError(firstFailure);
}

void MainWindow::writeChannelLog(QFile *file, const QString &text)
{
    // A log that could not be opened has been reported already; writing to it would only
    // produce a warning per append.
    if (!file || !file->isOpen())
        return;
    // Encoded as a text stream on the file would, but written here: a disk that fills up (or a
    // file size limit) takes the start of a write and refuses the rest without saying why, and
    // only a second attempt at the rest yields the reason the user is shown.
    const QByteArray bytes = QTextCodec::codecForLocale()->fromUnicode(text);
    for (qint64 done = 0; done < bytes.size();) {
        const qint64 written = file->write(bytes.constData() + done, bytes.size() - done);
        if (written <= 0) {
            reportLogError(file);
            return;
        }
        done += written;
    }
}

void MainWindow::reportLogError(QFile *file)
{
    if (reportedLogFiles.contains(file))
        return;
    reportedLogFiles.insert(file);
    ui->statusBar->showMessage(
        tr("Log file error: %1: %2").arg(file->fileName(), file->errorString()));
}
