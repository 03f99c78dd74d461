// `--history`: the record as a table, JSON lines and CSV, filtered, and a record that cannot be
// read.

#include "app/CommandLine.h"
#include "app/HistoryCommand.h"
#include "app/HistoryFormat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <cstdio>
#include <gtest/gtest.h>

namespace {

const QDateTime kStart(QDate(2026, 12, 9), QTime(13, 0), Qt::UTC);

struct Printed {
    int status = -1;
    QString out, err;
};

QString readBack(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    QByteArray bytes;
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        bytes.append(chunk, qsizetype(n));
    std::fclose(file);
    return QString::fromUtf8(bytes);
}

Printed runWith(const TerminalOptions& options) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    Printed printed;
    printed.status = runHistory(options, AttemptHistory::defaultPath(), out, err);
    printed.out = readBack(out);
    printed.err = readBack(err);
    return printed;
}

struct HistoryCommandTest : ::testing::Test {
    void SetUp() override {
        saved = qgetenv("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", state.path().toLocal8Bit());
        auto record = AttemptHistory::open(AttemptHistory::defaultPath(), nullptr);
        ASSERT_TRUE(record);
        Attempt done;
        done.id = QStringLiteral("1f0c");
        done.started = kStart;
        done.ended = kStart.addSecs(95);
        done.port = QStringLiteral("1-2.3");
        done.unit = QStringLiteral("abcdef0123456789");
        done.versionBefore = QStringLiteral("1.0.3");
        done.versionAfter = QStringLiteral("1.0.4");
        done.packageVersion = QStringLiteral("HS_FW_1.0.4");
        done.phase = QStringLiteral("done");
        done.phaseMs = QJsonObject{{QStringLiteral("saving"), 900}};
        done.result = 0;
        done.outcome = QStringLiteral("updated");
        done.runLog = QStringLiteral("/logs/run,1 \"a\".log");
        Attempt killed;
        killed.id = QStringLiteral("2e9d");
        killed.started = kStart.addSecs(3600);
        killed.port = QStringLiteral("1-2.4");
        killed.station = QStringLiteral("bench-2");
        killed.phase = QStringLiteral("image 3");
        killed.outcome = QStringLiteral("running");
        attempts = {done, killed};
        ASSERT_TRUE(record->writeAll(attempts));
    }
    void TearDown() override { qputenv("XDG_STATE_HOME", saved); }

    QTemporaryDir state;
    QByteArray saved;
    std::vector<Attempt> attempts;
};

} // namespace

TEST_F(HistoryCommandTest, TheRecordInEachFormat) {
    TerminalOptions options;
    options.history = true;
    Printed table = runWith(options);
    EXPECT_EQ(table.status, 0);
    const QStringList lines = table.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << table.out.toStdString();
    EXPECT_TRUE(lines[0].startsWith(QLatin1String("STARTED")));
    for (const char* shown : {"1-2.3", "abcdef012345 ", "1.0.3 -> 1.0.4", "HS_FW_1.0.4", "updated", "done", "1:35"})
        EXPECT_TRUE(lines[1].contains(QLatin1String(shown))) << shown << " in " << lines[1].toStdString();
    EXPECT_TRUE(lines[2].contains(QLatin1String("? -> ?")) && lines[2].endsWith(QLatin1String("image 3  -")))
        << lines[2].toStdString();
    EXPECT_EQ(lines[1].indexOf(QLatin1String("1-2.3")), lines[0].indexOf(QLatin1String("PORT"))) << "columns line up";

    options.historyFormat = TerminalOptions::HistoryFormat::Json;
    const QStringList objects = runWith(options).out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(objects.size(), 2);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(QJsonDocument::fromJson(objects[i].toUtf8()).object(), historyformat::toJson(attempts[i]));
    EXPECT_TRUE(QJsonDocument::fromJson(objects[1].toUtf8()).object().value(QStringLiteral("ended")).isNull());

    options.historyFormat = TerminalOptions::HistoryFormat::Csv;
    const QStringList rows = runWith(options).out.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 3);
    EXPECT_TRUE(rows[0].startsWith(QLatin1String("id,started,ended,station,port,unit,")));
    EXPECT_TRUE(rows[1].startsWith(QLatin1String("1f0c,2026-12-09T13:00:00.000Z,2026-12-09T13:01:35.000Z,,1-2.3,")));
    EXPECT_TRUE(rows[1].endsWith(QLatin1String(",done,\"{\"\"saving\"\":900}\",0,updated,\"/logs/run,1 \"\"a\"\".log\"")))
        << rows[1].toStdString();
    EXPECT_TRUE(rows[2].startsWith(QLatin1String("2e9d,2026-12-09T14:00:00.000Z,,"))) << rows[2].toStdString();

    // Every station's record tells its stations apart.
    const QStringList shared = historyformat::table(attempts, true).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(shared.size(), 3);
    const qsizetype column = shared[0].indexOf(QLatin1String("STATION"));
    EXPECT_GT(column, 0);
    EXPECT_EQ(shared[1].mid(column, 2), QStringLiteral("- "));
    EXPECT_EQ(shared[2].mid(column, 8), QStringLiteral("bench-2 "));
}

TEST_F(HistoryCommandTest, FiltersAndARecordThatCannotBeRead) {
    const std::pair<QStringList, QStringList> rows[] = {
        {{QStringLiteral("--since"), QStringLiteral("2026-12-09T13:30:00Z")}, {"2e9d"}},
        {{QStringLiteral("--unit"), QStringLiteral("abcdef"), QStringLiteral("--port"), QStringLiteral("1-2.3")}, {"1f0c"}},
        {{QStringLiteral("--unit"), QStringLiteral("ABCDEF0")}, {"1f0c"}}, // a digest as a label shows it
        {{QStringLiteral("--port"), QStringLiteral("3-1")}, {}},
        {{QStringLiteral("--station"), QStringLiteral("bench-2")}, {"2e9d"}},
    };
    for (const auto& [filter, expected] : rows) {
        TerminalOptions options;
        const QStringList args = QStringList{QStringLiteral("hotspot-updater"), QStringLiteral("--history"), QStringLiteral("--json")} + filter;
        ASSERT_FALSE(cmdline::readTerminalOptions(args, options)) << args.join(u' ').toStdString();
        QStringList ids;
        for (const QString& line : runWith(options).out.split(u'\n', Qt::SkipEmptyParts))
            ids << QJsonDocument::fromJson(line.toUtf8()).object().value(QStringLiteral("id")).toString();
        EXPECT_EQ(ids, expected) << args.join(u' ').toStdString();
    }

    TerminalOptions none;
    ASSERT_FALSE(cmdline::readTerminalOptions(
        QStringList{QStringLiteral("hotspot-updater"), QStringLiteral("--history"), QStringLiteral("--port"), QStringLiteral("3-1")}, none));
    const Printed nothing = runWith(none);
    EXPECT_EQ(nothing.status, 0);
    EXPECT_EQ(nothing.out, QStringLiteral("no attempt matches\n")) << "not: no attempts recorded";

    QFile record(AttemptHistory::defaultPath());
    ASSERT_TRUE(record.open(QIODevice::WriteOnly | QIODevice::Truncate));
    record.write(QByteArray("not a database at all ").repeated(100));
    record.close();
    TerminalOptions options;
    options.history = true;
    const Printed broken = runWith(options);
    EXPECT_EQ(broken.status, exitstatus::kHistory);
    EXPECT_TRUE(broken.err.contains(QLatin1String("is not a record of update attempts"))) << broken.err.toStdString();
    EXPECT_TRUE(broken.out.isEmpty());
}

// --history changes nothing: no mode, no file, no table; an absent record is no attempt.
TEST_F(HistoryCommandTest, ReadingChangesNothing) {
    const QString folder = QFileInfo(AttemptHistory::defaultPath()).path();
    const auto shared = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser | QFile::WriteUser |
                        QFile::ExeUser | QFile::ReadGroup | QFile::ExeGroup;
    ASSERT_TRUE(QFile::setPermissions(folder, shared));
    const auto readOnly = QFile::ReadOwner | QFile::ReadUser;
    ASSERT_TRUE(QFile::setPermissions(AttemptHistory::defaultPath(), readOnly));
    const QStringList before = QDir(folder).entryList(QDir::Files);
    TerminalOptions options;
    options.history = true;
    const Printed read = runWith(options);
    EXPECT_EQ(read.status, 0) << read.err.toStdString();
    EXPECT_EQ(read.out.count(u'\n'), 3) << read.out.toStdString();
    EXPECT_EQ(QFile::permissions(folder) & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser),
              shared & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser));
    const auto modeBits = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::WriteGroup |
                          QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    EXPECT_EQ(QFile::permissions(AttemptHistory::defaultPath()) & modeBits, readOnly & modeBits);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), before) << "no -wal or -shm left behind";

    QTemporaryDir empty;
    qputenv("XDG_STATE_HOME", empty.path().toLocal8Bit());
    const Printed absent = runWith(options);
    EXPECT_EQ(absent.status, 0);
    EXPECT_EQ(absent.out, QStringLiteral("no attempts recorded\n"));
    EXPECT_TRUE(QDir(empty.path()).isEmpty()) << "no folder, no file made";
}

TEST(HistoryFormat, DatesAndDurations) {
    const struct {
        QString text;
        QDateTime since; // invalid: refused
    } dates[] = {
        {QStringLiteral("2026-12-09"), QDateTime(QDate(2026, 12, 9), QTime(0, 0))},
        {QStringLiteral("2026-12-09T14:00"), QDateTime(QDate(2026, 12, 9), QTime(14, 0))},
        {QStringLiteral("2026-12-09T14:00:30Z"), QDateTime(QDate(2026, 12, 9), QTime(14, 0, 30), Qt::UTC)},
        {QStringLiteral("2026-12-9"), {}},
        {QStringLiteral("2026-12-09T25:00"), {}},
        {QStringLiteral("14:00"), {}},
        {QString(), {}},
    };
    for (const auto& row : dates) {
        const std::optional<QDateTime> since = cmdline::sinceTime(row.text);
        EXPECT_EQ(since.has_value(), row.since.isValid()) << row.text.toStdString();
        if (since && row.since.isValid()) {
            EXPECT_EQ(*since, row.since) << row.text.toStdString();
        }
    }
    const std::pair<int, const char*> durations[] = {{0, "0:00"}, {95, "1:35"}, {3599, "59:59"}, {3725, "1:02:05"}, {-5, "0:00"}};
    for (const auto& [secs, shown] : durations) {
        Attempt a;
        a.started = kStart;
        a.ended = kStart.addSecs(secs);
        EXPECT_EQ(historyformat::duration(a), QLatin1String(shown)) << secs;
    }
}
