// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// tavena-cli's command line.

#include <QString>
#include <QStringList>
#include <optional>

struct LinkSettings;

struct Options {
    QString settings, adapter, computer, port, mac, timeout, km4, capture;
    QString linkTimeoutText, retriesText;
    int linkTimeout = 10;
    int retries = 0;
    bool interactive = false;
    bool json = false;
    QString file, blockList;
    bool outdated = false, loader = false, verify = false;
    QString map;      // restore: file block=bus block, …
    bool csv = false; // watch: CSV of named series
    QString series;
    bool withCalibration = false, withInterlock = false; // restore
    QString cycles, logDir;
    QString report, junit;                // bench: the protocol (PDF) and the JUnit XML
    QString zero, maximum, minimum, zone; // calibration set
    QStringList args;
};

// Reads the command line into `o`; the exit code when the program is to end at once (help,
// version, bad usage).
std::optional<int> ParseArguments(Options& o);
// The window's settings (or those of --settings), then what the command line overrides.
void ApplySettings(const Options& o, LinkSettings& s);
// The message on standard error; the exit code of bad usage.
int Usage(const QString& message);
