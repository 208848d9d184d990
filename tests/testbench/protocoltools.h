// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Reading the module test's reports back with the tools an engineer would use: pdftotext for
// the protocol, xmllint against the JUnit shape for the JUnit report. Nothing when the tool is
// not installed.

#include <QProcess>
#include <QStandardPaths>
#include <optional>

inline std::optional<QString> PdfText(const QString& pdf)
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        return std::nullopt;
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    p.waitForFinished(20000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

// xmllint's verdict on the file against the JUnit shape: empty when valid, else its complaint.
inline std::optional<QString> JunitComplaint(const QString& xml)
{
    if (QStandardPaths::findExecutable(QStringLiteral("xmllint")).isEmpty())
        return std::nullopt;
    QProcess p;
    p.start(QStringLiteral("xmllint"), {QStringLiteral("--noout"), QStringLiteral("--schema"),
                                        QStringLiteral(JUNIT_XSD), xml});
    p.waitForFinished(20000);
    return p.exitCode() == 0 ? QString() : QString::fromUtf8(p.readAllStandardError());
}
