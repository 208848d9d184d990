#pragma once
// Command line of the kp-sim program.

#include "kpsim.h"

#include <QStringList>
#include <optional>

namespace kpsim
{

struct CommandLine {
    Options options;
    bool help = false;
    QString helpText;
};

// Parses the arguments (the first is the program name). A bind address outside the loopback
// range is refused unless --allow-any is given. On failure returns nothing and the message.
std::optional<CommandLine> ParseCommandLine(const QStringList& arguments, QString* error);

// "ts:0,tu:1,tit:2" -> blocks; an unknown type, an address outside 0..7 or a block named
// twice is an error.
std::optional<QList<BlockSpec>> ParseBlocks(const QString& text, QString* error);
QString BlocksText(const QList<BlockSpec>& blocks);

// The one line printed at start.
QString StartMessage(const Options& options, quint16 port);

} // namespace kpsim
