// SPDX-License-Identifier: GPL-3.0-or-later
// kp-sim: the simulated controlled point as a program. Runs until SIGINT or SIGTERM; with
// --write-image it only writes the sample firmware image; with --replay it plays a recorded
// exchange until the replay ends.

#include "capturereader.h"
#include "commandline.h"
#include "exchange/pcapng.h"
#include "kpsim.h"
#include "replay.h"
#include "sampleimage.h"
#include "support/errortext.h"
#include "tavenaversion.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

int signalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}

// SIGINT and SIGTERM end the event loop from the main thread, through a socket pair.
bool QuitOnSignals(QCoreApplication& app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return false;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [notifier] {
        notifier->setEnabled(false);
        char c;
        [[maybe_unused]] const auto n = ::read(signalPipe[0], &c, 1);
        QCoreApplication::quit();
    });
    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &sa, nullptr) == 0 && ::sigaction(SIGTERM, &sa, nullptr) == 0;
}

// Records every datagram the simulator sends and receives into the capture file.
bool Record(kpsim::KpSim& sim, PcapngWriter& capture, const QString& path, QTextStream& err)
{
    QString error;
    if (!capture.Open(path, &error)) {
        err << "kp-sim: " << path << ": " << error << Qt::endl;
        return false;
    }
    const quint32 self = sim.options().bindAddress.toIPv4Address();
    auto record = [&sim, &capture, &err, self](const QByteArray& d, bool sent) {
        if (!capture.IsOpen())
            return;
        const quint32 peer = sim.peerAddress().toIPv4Address();
        const capture::UdpEnds ends =
            sent ? capture::UdpEnds{self, sim.localPort(), peer, sim.peerPort()}
                 : capture::UdpEnds{peer, sim.peerPort(), self, sim.localPort()};
        capture.Append(capture::NowMicroseconds(), ends, d, {});
        QString problem;
        if (!capture.Flush(&problem)) {
            err << "kp-sim: capture stopped: " << problem << Qt::endl;
            capture.Close();
        }
    };
    QObject::connect(&sim, &kpsim::KpSim::datagramSent, &sim,
                     [record](const QByteArray& d) { record(d, true); });
    QObject::connect(&sim, &kpsim::KpSim::datagramReceived, &sim,
                     [record](const QByteArray& d) { record(d, false); });
    return true;
}

// --replay: reads the recording, plays it to the program until the replay ends or a signal
// comes, and prints the summary. 0 when the program's requests matched throughout.
int Replay(QCoreApplication& app, const kpsim::CommandLine& cl, QTextStream& out, QTextStream& err)
{
    QFile file(cl.replayPath);
    if (!file.open(QIODevice::ReadOnly)) {
        err << "kp-sim: " << cl.replayPath << ": " << FileErrorText(file) << Qt::endl;
        return 2;
    }
    QString error;
    const auto contents = capture::ReadCapture(file.readAll(), &error);
    const auto script = contents
                            ? replay::MakeScript(contents->datagrams, cl.replayAdapterPort, &error)
                            : std::nullopt;
    if (!script) {
        err << "kp-sim: " << cl.replayPath << ": " << error << Qt::endl;
        return 2;
    }
    replay::Replayer replayer(*script, {cl.replaySpeed, cl.thenSimulate, cl.options});
    replayer.Tell = [&err](const QString& text) { err << "kp-sim: " << text << Qt::endl; };
    if (!replayer.start(&error)) {
        err << "kp-sim: " << error << Qt::endl;
        return 1;
    }
    const qint64 lastUs =
        std::max(script->requests.isEmpty() ? 0 : script->requests.last().us,
                 script->spontaneous.isEmpty() ? 0 : script->spontaneous.last().us);
    out << "kp-sim: replaying " << cl.replayPath << " (" << script->requests.size() << " requests, "
        << script->adapterDatagrams << " datagrams of the adapter at "
        << QHostAddress(script->adapterAddress).toString() << ":" << script->adapterPort << ", "
        << QString::number(double(lastUs) / 1e6, 'f', 1) << " s) on "
        << cl.options.bindAddress.toString() << ":" << replayer.localPort()
        << "; waiting for the program" << Qt::endl;
    QObject::connect(&replayer, &replay::Replayer::finished, &app, &QCoreApplication::exit);
    app.exec();
    out << "kp-sim: " << replayer.Summary() << Qt::endl;
    return replayer.exitCode();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);

    if (app.arguments().mid(1).contains(QStringLiteral("--version"))) {
        out << "kp-sim " TAVENA_VERSION_TEXT << Qt::endl;
        return 0;
    }
    QString error;
    const auto cl = kpsim::ParseCommandLine(app.arguments(), &error);
    if (!cl) {
        err << "kp-sim: " << error << Qt::endl;
        return 2;
    }
    if (cl->help) {
        out << cl->helpText;
        return 0;
    }
    if (!cl->imagePath.isEmpty()) {
        if (!kpsim::image::WriteSampleImage(cl->imagePath, cl->imageVersion, &error)) {
            err << "kp-sim: " << error << Qt::endl;
            return 1;
        }
        out << "kp-sim: sample image " << cl->imagePath << " written" << Qt::endl;
        return 0;
    }
    if (!QuitOnSignals(app)) {
        err << "kp-sim: cannot install signal handlers" << Qt::endl;
        return 1;
    }
    if (!cl->replayPath.isEmpty())
        return Replay(app, *cl, out, err);
    kpsim::KpSim sim(cl->options);
    if (!sim.start(&error)) {
        err << "kp-sim: " << error << Qt::endl;
        return 1;
    }
    out << kpsim::StartMessage(sim.options(), sim.localPort()) << Qt::endl;

    // --capture: every datagram, both ways, written as it goes.
    PcapngWriter capture;
    if (!cl->capturePath.isEmpty() && !Record(sim, capture, cl->capturePath, err))
        return 1;
    QObject::connect(&sim, &kpsim::KpSim::burstFinished, &app, [&out](int sent) {
        out << "kp-sim: burst of " << sent << " datagrams sent" << Qt::endl;
    });
    return app.exec();
}
