#include "app/RunLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

struct State {
    std::mutex lock;
    std::unique_ptr<std::FILE, FileCloser> file;
    QString path;
    bool echo = false;
    std::chrono::steady_clock::time_point started;
};

State& state() {
    static State s;
    return s;
}

const QString kPrefix = QStringLiteral("run-");
const QString kSuffix = QStringLiteral(".log");

// Names carry the UTC start time, so name order is age order.
void prune(const QDir& dir, int keep) {
    QStringList logs = dir.entryList({kPrefix + QLatin1Char('*') + kSuffix}, QDir::Files, QDir::Name);
    while (logs.size() > keep)
        QFile::remove(dir.filePath(logs.takeFirst()));
}

void emitLine(State& s, const QByteArray& line) {
    if (s.file) {
        std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), s.file.get());
        std::fflush(s.file.get());
    }
    if (s.echo) {
        std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
        std::fflush(stderr);
    }
}

} // namespace

namespace runlog {

QString defaultFolder() {
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    // The base directory specification wants an absolute path; anything else is ignored.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/hotspot-updater/logs");
}

bool start(const QString& folder, const QStringList& header, bool echo, int keep) {
    State& s = state();
    std::lock_guard guard(s.lock);
    s.file.reset();
    s.path.clear();
    s.echo = echo;
    s.started = std::chrono::steady_clock::now();

    QDir dir(folder);
    bool ok = dir.mkpath(QStringLiteral("."));
    if (ok) {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const QString name = kPrefix + now.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")) +
                             QStringLiteral("-%1").arg(::getpid()) + kSuffix;
        // Private to the user: it names their device and folders.
        const mode_t old = ::umask(077);
        s.file.reset(std::fopen(QFile::encodeName(dir.filePath(name)).constData(), "a"));
        ::umask(old);
        ok = s.file != nullptr;
        if (ok) {
            s.path = dir.filePath(name);
            prune(dir, keep);
        }
    }
    QByteArray head;
    for (const QString& line : header)
        head += "# " + line.toUtf8() + '\n';
    emitLine(s, head);
    return ok;
}

QString path() {
    State& s = state();
    std::lock_guard guard(s.lock);
    return s.path;
}

void write(const char* topic, const QString& text) {
    State& s = state();
    std::lock_guard guard(s.lock);
    if (!s.file && !s.echo)
        return;
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - s.started).count();
    const QByteArray stamp = QByteArray::number(secs, 'f', 3).rightJustified(9) + ' ' + topic;
    QByteArray out;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i == lines.size() - 1 && lines[i].isEmpty() && i > 0)
            break; // a trailing line end adds no line
        out += stamp + (i == 0 ? ": " : "| ") + lines[i].toUtf8() + '\n';
    }
    emitLine(s, out);
}

void stop() {
    State& s = state();
    std::lock_guard guard(s.lock);
    s.file.reset();
    s.path.clear();
    s.echo = false;
}

void toolRun(const QString& program, const QStringList& args, const QString& output, qint64 ms,
             const QStringList& privatePaths) {
    bool secret = false;
    for (const QString& arg : args)
        for (const QString& p : privatePaths)
            secret = secret || arg.contains(p);
    const QString command = QFileInfo(program).fileName() + QLatin1Char(' ') + args.join(QLatin1Char(' '));
    QString text = QStringLiteral("%1 (%2 ms)").arg(command).arg(ms);
    if (secret)
        text += QStringLiteral("\n[output withheld: %1 bytes of a run on the device's private data]").arg(output.toUtf8().size());
    else if (!output.isEmpty())
        text += QLatin1Char('\n') + output;
    write("tool", text);
}

} // namespace runlog
