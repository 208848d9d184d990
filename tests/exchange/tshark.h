// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Decoding a capture file with tshark and the repository's dissector, for the tests. tshark runs
// with a home of its own, so that a dissector the engineer installed or personal preferences
// never meet the one under test.

#include <QDir>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace tshark
{

inline QString Program()
{
    return QStandardPaths::findExecutable(QStringLiteral("tshark"));
}

// One map per frame: field name -> value, repeated occurrences joined by ";". Empty with the
// error when tshark fails.
inline QList<QMap<QString, QString>> Fields(const QString& file, const QStringList& fields,
                                            const QStringList& extraArguments, QString* error)
{
    QTemporaryDir home;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    p.setProcessEnvironment(env);
    QStringList args{QStringLiteral("-X"), QStringLiteral("lua_script:" TAVENA_DISSECTOR),
                     QStringLiteral("-r"), file,
                     QStringLiteral("-T"), QStringLiteral("fields"),
                     QStringLiteral("-E"), QStringLiteral("separator=|"),
                     QStringLiteral("-E"), QStringLiteral("occurrence=a"),
                     QStringLiteral("-E"), QStringLiteral("aggregator=;")};
    args += extraArguments;
    for (const QString& f : fields)
        args << QStringLiteral("-e") << f;
    p.start(Program(), args);
    QList<QMap<QString, QString>> frames;
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        *error = QString::fromUtf8(p.readAllStandardError());
        return frames;
    }
    const QString err = QString::fromUtf8(p.readAllStandardError());
    if (err.contains(QLatin1String("Lua"))) { // the script did not load
        *error = err;
        return frames;
    }
    const QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).split(u'\n');
    for (const QString& line : lines) {
        if (line.isEmpty())
            continue;
        const QStringList values = line.split(u'|');
        QMap<QString, QString> frame;
        for (int i = 0; i < fields.size(); ++i)
            frame[fields[i]] = i < values.size() ? values[i] : QString();
        frames << frame;
    }
    return frames;
}

} // namespace tshark
