#include "bridge/RunLog.h"

#include "bridge/UserFolders.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
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

// A detection pass repeats the same lines twice a second: a line already written in the
// last minute is counted instead, and written again (with its count) after that.
constexpr double kRepeatWindowSecs = 60.0;

struct Seen {
    bool written = false;
    double at = 0;
    int skipped = 0;
};

struct State {
    std::mutex lock;
    QHash<QString, Seen> recent;
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

// Called with the lock held: no log file, nothing remembered.
void close(State& s) {
    s.file.reset();
    s.path.clear();
    s.echo = false;
    s.recent.clear();
}

} // namespace

namespace runlog {

QString defaultFolder() {
    return stateFolder() + QStringLiteral("/logs");
}

bool start(const QString& folder, const QStringList& header, bool echo, int keep) {
    State& s = state();
    std::lock_guard guard(s.lock);
    close(s);
    s.echo = echo;
    s.started = std::chrono::steady_clock::now();

    QDir dir(folder);
    // Private to the user, folders and files: the logs tell when they updated what.
    const mode_t old = ::umask(077);
    bool ok = dir.mkpath(QStringLiteral(".")) && QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (ok) {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const QString name = kPrefix + now.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")) +
                             QStringLiteral("-%1").arg(::getpid()) + kSuffix;
        s.file.reset(std::fopen(QFile::encodeName(dir.filePath(name)).constData(), "a"));
        ok = s.file != nullptr;
        if (ok) {
            s.path = dir.filePath(name);
            prune(dir, keep);
        }
    }
    ::umask(old);
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

namespace {

void append(State& s, double secs, const char* topic, const QString& body) {
    const QByteArray stamp = QByteArray::number(secs, 'f', 3).rightJustified(9) + ' ' + topic;
    QByteArray out;
    const QStringList lines = body.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i == lines.size() - 1 && lines[i].isEmpty() && i > 0)
            break; // a trailing line end adds no line
        out += stamp + (i == 0 ? ": " : "| ") + lines[i].toUtf8() + '\n';
    }
    emitLine(s, out);
}

double sinceStart(const State& s) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - s.started).count();
}

} // namespace

void write(const char* topic, const QString& text) {
    State& s = state();
    std::lock_guard guard(s.lock);
    if (s.file || s.echo)
        append(s, sinceStart(s), topic, text);
}

void writeOnce(const char* topic, const QString& text, const QString& sameAs) {
    State& s = state();
    std::lock_guard guard(s.lock);
    if (!s.file && !s.echo)
        return;
    const double secs = sinceStart(s);
    Seen& seen = s.recent[QLatin1String(topic) + QLatin1Char('\0') + sameAs];
    if (seen.written && secs - seen.at < kRepeatWindowSecs) {
        ++seen.skipped;
        return;
    }
    QString body = text;
    if (seen.skipped > 0) {
        const qsizetype firstLineEnd = body.indexOf(QLatin1Char('\n'));
        body.insert(firstLineEnd < 0 ? body.size() : firstLineEnd,
                    QStringLiteral(" [also %1 times in the minute before]").arg(seen.skipped));
    }
    seen = Seen{true, secs, 0};
    append(s, secs, topic, body);
}

void stop() {
    State& s = state();
    std::lock_guard guard(s.lock);
    close(s);
}

void toolRun(const QString& program, const QStringList& args, const QString& output, qint64 ms,
             const QStringList& privatePaths) {
    bool secret = false;
    for (const QString& arg : args)
        for (const QString& p : privatePaths)
            secret = secret || arg.contains(p);
    const QString command = QFileInfo(program).fileName() + QLatin1Char(' ') + args.join(QLatin1Char(' '));
    QString shown;
    if (secret)
        shown = QStringLiteral("\n[output withheld: %1 bytes of a run on the device's private data]")
                    .arg(output.toUtf8().size());
    else if (!output.isEmpty())
        shown = QLatin1Char('\n') + output;
    // The same run with the same output is a repeat, however long it took.
    writeOnce("tool", QStringLiteral("%1 (%2 ms)").arg(command).arg(ms) + shown, command + shown);
}

} // namespace runlog
