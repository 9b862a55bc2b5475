#pragma once

#include "options.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>

#include <optional>
#include <vector>

// How a key's value is read from the file.
enum class SettingKind {
    Integer, // anything that is no number gives 0
    Text, // a value that is not text (a point, a list) counts as absent
};

// Where the value written at exit comes from.
enum class SettingWriteBack {
    Window, // what the window shows then
    WindowIfInFile, // the same, but only into a file that has the key already
    File, // what the file had: the window cannot change it
};

// One key of the settings file's group.
struct SettingKey {
    QString name;
    SettingKind kind;
    // What a run uses when the file has no usable value; none for a key that is only written or
    // whose absence means "as the system has it".
    QVariant fallback;
    SettingWriteBack writeBack;
};

// Every key of the group, in the order they are written.
const std::vector<SettingKey> &settingKeys();

// The settings of one run: what the file held, and what the command line set for this run
// alone. The command line wins for the run, but the file gets back what it had wherever the
// window still shows the run's value at exit.
class RunSettings {
public:
    // Reads the group from the file at `path`; an empty path, or one that is not a plain file,
    // gives every default.
    void read(const QString &path);
    // Whether the file holds a usable value for the key.
    bool contains(const QString &key) const { return m_usable.contains(key); }
    // The file's value, or the key's fallback.
    QVariant value(const QString &key) const;
    QString text(const QString &key) const;
    int integer(const QString &key) const;

    // The command line set the key to `runValue` for this run.
    void setForRun(const QString &key, const QVariant &runValue);
    bool isSetForRun(const QString &key) const { return m_run.contains(key); }

    // The form's keys, typed.
    // The saved serial port: none when the file names none.
    std::optional<QString> portName() const;
    // The baud rate's place in the list.
    int bandRateIndex() const { return integer(QStringLiteral("bandrate")); }
    QString networkAddress() const { return text(QStringLiteral("networkipaddress")); }
    QString networkPort() const { return text(QStringLiteral("networkport")); }
    // The periodic send's period of the channel a key names ("serial", "network2").
    int periodMs(const QString &channel) const
    {
        return integer(channel + QStringLiteral("timermsecond"));
    }

    // The keys beyond the form, as the command line would give them; unset where the file has
    // no value that means something.
    RunOptions runOptions() const;

    // The keys and values to write at exit, given what the window shows for the keys it shows.
    QList<QPair<QString, QVariant>> toWrite(const QHash<QString, QVariant> &shown) const;
    // Writes them into the file at `path`, in their order; false, with the reason, when the
    // file could not be written.
    bool write(const QString &path, const QHash<QString, QVariant> &shown, QString *why) const;

private:
    QHash<QString, QVariant> m_raw; // every key the file has, as it has it
    QHash<QString, QVariant> m_usable;
    QHash<QString, QVariant> m_run;
};
