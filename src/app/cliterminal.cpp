// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cliterminal.h"

#include "support/eventwait.h"

#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
int signalPipe[2] = {-1, -1};

void OnSignal(int number)
{
    const char b = char(number);
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &b, 1);
}

void Err(const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}
} // namespace

bool IsTerminal(int fd)
{
    return ::isatty(fd) == 1;
}

QString ReadLineFromTerminal()
{
    // The prompt waits in the event loop, so the exchange goes on being handled meanwhile.
    QByteArray line;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    bool done = false;
    QObject::connect(&input, &QSocketNotifier::activated, &input, [&] {
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n <= 0 || c == '\n')
            done = true;
        else
            line += c;
    });
    // Until the engineer answers, or an interruption closes the program.
    eventwait::WaitWhile([&] { return !done; });
    return QString::fromLocal8Bit(line).trimmed();
}

CliOperator::CliOperator(int retries, bool interactive)
    : retries_(retries), interactive_(interactive && IsTerminal(STDIN_FILENO)),
      terminal_(IsTerminal(STDERR_FILENO))
{
}

void CliOperator::Say(const QString& caption, const QString& text)
{
    EndProgress();
    Messages << caption + QStringLiteral(": ") + text;
    Err((caption.isEmpty() ? text : caption + QStringLiteral(": ") + text) + QLatin1Char('\n'));
}

bool CliOperator::Ask(const QString& question)
{
    Err(question + QStringLiteral(" [д/Н] "));
    const QString answer = ReadLineFromTerminal().toLower();
    return answer.startsWith(u'д') || answer.startsWith(u'y');
}

bool CliOperator::AskRetry(const QString& caption, const QString& text, int attempt)
{
    Say(caption, text);
    const bool retry = interactive_ ? Ask(QStringLiteral("Повторить?")) : attempt < retries_;
    if (!retry)
        FailedStage = caption;
    return retry;
}

void CliOperator::ShowMessage(const QString& caption, const QString& text)
{
    Say(caption, text);
    FailedStage = caption.isEmpty() ? text : caption;
}

bool CliOperator::AskYesNo(const QString& caption, const QString& text)
{
    Say(caption, text);
    return interactive_ && Ask(QString());
}

void CliOperator::Progress(int minimum, int maximum, int position)
{
    if (minimum != minimum_ || maximum != maximum_) {
        minimum_ = minimum;
        maximum_ = maximum;
        lastTenth_ = -1;
        startPosition_ = position;
        since_.start();
    }
    const int span = maximum - minimum;
    if (quietProgress || span <= 0 || position < minimum || position > maximum)
        return;
    const int percent = int(qint64(position - minimum) * 100 / span);
    const QString what = stage ? stage() : QString();
    if (!terminal_) {
        // One line per tenth of the way.
        const int tenth = percent / 10;
        if (tenth != lastTenth_ && position > minimum) {
            lastTenth_ = tenth;
            Err(QStringLiteral("%1: %2%\n").arg(what).arg(percent));
        }
        return;
    }
    if (drawn_.isValid() && drawn_.elapsed() < 100 && position != maximum && percent == lastShown_)
        return;
    drawn_.start();
    lastShown_ = percent;
    const int width = 30, filled = percent * width / 100;
    const double seconds = std::max(0.001, double(since_.elapsed()) / 1000);
    Err(QStringLiteral("\r%1 [%2%3] %4% %5/с ")
            .arg(what, QString(filled, u'#'), QString(width - filled, u'.'))
            .arg(percent, 3)
            .arg(qRound((position - startPosition_) / seconds)));
    barOpen_ = true;
}

void CliOperator::EndProgress()
{
    if (barOpen_)
        Err(QStringLiteral("\n"));
    barOpen_ = false;
}

Interrupts::Interrupts()
{
    if (signalPipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        qFatal("socketpair");
    notifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char b = 0;
        if (::read(signalPipe[0], &b, 1) == 1)
            signal = b;
        interrupted = true;
        eventwait::SetClosing(true);
        emit arrived();
    });
    struct sigaction action {
    };
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

Interrupts::~Interrupts()
{
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}
