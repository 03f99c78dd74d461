// One record for many stations: each writes its own file first and sends to a PostgreSQL server
// when it can. Two stations at once, and the server gone in the middle, lose nothing.

#include "bridge/HistoryKeeper.h"
#include "bridge/HistorySender.h"
#include "tests/bridge/ForkedChild.h"
#include "tests/bridge/PostgresServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <set>

namespace {

struct HistoryServerTest : ::testing::Test {
    void SetUp() override {
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
            GTEST_SKIP() << "Qt's PostgreSQL driver is not installed (Debian package libqt6sql6-psql)";
        server = std::make_unique<PostgresServer>();
        if (!server->unavailable().isEmpty())
            GTEST_SKIP() << server->unavailable().toStdString();
    }
    std::unique_ptr<AttemptHistory> openServer() {
        QString why;
        auto history = AttemptHistory::openServer(server->url(), &why);
        EXPECT_TRUE(history) << why.toStdString();
        return history;
    }
    std::unique_ptr<PostgresServer> server;
    QTemporaryDir dir;
};

// Waits, at most `seconds`, for `done`.
template <typename Done>
bool within(int seconds, Done done) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > seconds * 1000)
            return false;
        QThread::msleep(50);
    }
    return true;
}

} // namespace

TEST_F(HistoryServerTest, TwoStationsAndAServerGoneInTheMiddleLoseNothing) {
    std::vector<std::unique_ptr<ForkedChild>> stations;
    QString files[2];
    for (int i = 0; i < 2; ++i) {
        files[i] = dir.filePath(QStringLiteral("station-%1.sqlite").arg(i));
        stations.push_back(std::make_unique<ForkedChild>(
            QStringLiteral(HOTSPOT_HISTORY_WRITER),
            QStringList{files[i], QStringLiteral("200"), QStringLiteral("station-%1").arg(i), server->url()}));
    }
    auto reader = openServer();
    ASSERT_TRUE(reader);
    // Gone once the stations are well under way.
    EXPECT_TRUE(within(60, [&] { return reader->list({}).size() >= 60; }));
    reader.reset();
    ASSERT_TRUE(server->stop());
    for (const auto& station : stations) {
        EXPECT_EQ(station->wait(120000), 0) << "a server gone never fails a local write";
        const QList<QByteArray> figures = station->output().trimmed().split(' ');
        ASSERT_EQ(figures.size(), 3);
        std::printf("station: %s attempts in %s ms, slowest write %s ms\n", figures[0].constData(), figures[1].constData(),
                    figures[2].constData());
        EXPECT_LT(figures[2].toInt(), 1000) << "a write never waits for the server";
    }
    int unsent = 0;
    for (const QString& file : files) {
        auto local = AttemptHistory::open(file, nullptr);
        ASSERT_TRUE(local);
        EXPECT_EQ(local->list({}).size(), 200u);
        unsent += local->unsentCount();
    }
    std::printf("left in the stations' outboxes while the server was down: %d\n", unsent);

    // Back: the senders deliver the rest on their own.
    ASSERT_TRUE(server->start());
    std::vector<std::unique_ptr<HistorySender>> senders;
    for (const QString& file : files) {
        senders.push_back(std::make_unique<HistorySender>(file, server->url(), std::chrono::milliseconds(200)));
        senders.back()->start();
    }
    const auto outboxesEmpty = [&] {
        for (const QString& file : files)
            if (AttemptHistory::open(file, nullptr)->unsentCount() != 0)
                return false;
        return true;
    };
    EXPECT_TRUE(within(60, outboxesEmpty));
    senders.clear();

    reader = openServer();
    ASSERT_TRUE(reader);
    const std::vector<Attempt> all = reader->list({});
    ASSERT_EQ(all.size(), 400u);
    std::set<QString> ids;
    for (const Attempt& a : all) {
        ids.insert(a.id);
        EXPECT_EQ(a.phase, QStringLiteral("done")) << "the last form reached the server";
        EXPECT_EQ(a.result, 0);
    }
    EXPECT_EQ(ids.size(), 400u);
    EXPECT_EQ(reader->list({{}, QStringLiteral("1-1"), {}}).size(), 58u) << "filters work on the server too"; // 29 of 200 each
}

// libpq's ways to a password and its parameters: the URL, ~/.pgpass (PGPASSFILE), a service
// file (PGSERVICE), ?sslmode; a wrong password is said without being shown.
TEST_F(HistoryServerTest, PasswordsAndParametersGoTheWaysOfLibpq) {
    const QString password = QStringLiteral("S3cr#t-pw");
    ASSERT_TRUE(server->addRole(QStringLiteral("station"), password,
                                {QStringLiteral("GRANT CREATE ON SCHEMA public TO station")}));
    const QString url = server->url(QStringLiteral("station"));
    const QString port = url.section(u':', 2).section(u'/', 0, 0);
    const auto privateFile = [&](const char* name, const QString& text) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8());
        file.close();
        EXPECT_TRUE(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
        return file.fileName();
    };
    const QString pgpass = privateFile("pgpass", QStringLiteral("127.0.0.1:%1:*:station:%2\n").arg(port, password));
    const QString services =
        privateFile("services", QStringLiteral("[records]\nhost=127.0.0.1\nport=%1\ndbname=postgres\nuser=station\n").arg(port));
    const struct {
        QString url;
        std::vector<std::pair<const char*, QString>> environment;
        QString fails; // what the reason says; empty: it opens
    } rows[] = {
        {QString(url).replace(QStringLiteral("station@"), QStringLiteral("station:S3cr%23t-pw@")), {}, {}},
        {url, {{"PGPASSFILE", pgpass}}, {}},
        {QStringLiteral("postgresql://"), {{"PGPASSFILE", pgpass}, {"PGSERVICEFILE", services}, {"PGSERVICE", QStringLiteral("records")}}, {}},
        {QString(url).replace(QStringLiteral("station@"), QStringLiteral("station:wrong-pw@")), {}, QStringLiteral("password authentication failed")},
        {url + QStringLiteral("?sslmode=require"), {{"PGPASSFILE", pgpass}}, QStringLiteral("SSL")},
        {QString(url).replace(QStringLiteral("/postgres"), QStringLiteral(":54x9/postgres")).replace(QStringLiteral("station@"), QStringLiteral("station:wrong-pw@")),
         {}, QStringLiteral("cannot reach the history server")},
    };
    for (const auto& row : rows) {
        for (const auto& [name, value] : row.environment)
            qputenv(name, value.toLocal8Bit());
        QString why;
        const std::unique_ptr<AttemptHistory> record = AttemptHistory::openServer(row.url, &why);
        for (const auto& [name, value] : row.environment)
            qunsetenv(name);
        EXPECT_EQ(record == nullptr, !row.fails.isEmpty()) << row.url.toStdString() << ": " << why.toStdString();
        EXPECT_TRUE(why.contains(row.fails)) << why.toStdString();
        for (const char* secret : {"S3cr", "wrong-pw"})
            EXPECT_FALSE(why.contains(QLatin1String(secret)) || (record && record->where().contains(QLatin1String(secret))))
                << why.toStdString();
    }
}

// A damaged local record is set aside, once, and a new one started: the server still gets
// every attempt.
TEST_F(HistoryServerTest, ADamagedLocalRecordIsSetAsideAndTheServerStillGetsEveryAttempt) {
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    QFile damaged(path);
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write(QByteArray("not a database at all ").repeated(100));
    damaged.close();
    QString why;
    std::unique_ptr<HistoryKeeper> keeper = HistoryKeeper::open({path, server->url()}, &why);
    ASSERT_TRUE(keeper) << why.toStdString();
    EXPECT_TRUE(why.contains(QStringLiteral("is not a record of update attempts")) && why.contains(QStringLiteral("set aside as")))
        << why.toStdString();
    const QStringList aside = QDir(dir.path()).entryList({QStringLiteral("history.sqlite.set-aside-*")}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    QFile kept(dir.filePath(aside.front()));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_TRUE(kept.readAll().startsWith("not a database")) << "what it held stays for a look";
    for (int i = 0; i < 3; ++i) {
        Attempt a;
        a.id = QStringLiteral("after-%1").arg(i);
        a.started = QDateTime::currentDateTimeUtc();
        a.port = QStringLiteral("1-1");
        ASSERT_TRUE(keeper->write(a));
    }
    auto reader = openServer();
    ASSERT_TRUE(reader);
    EXPECT_TRUE(within(20, [&] { return reader->list({}).size() == 3; }));
    keeper.reset();
    EXPECT_TRUE(HistoryKeeper::open({path, {}}, &why)) << why.toStdString();
    EXPECT_TRUE(why.isEmpty()) << "said once: " << why.toStdString();
}

// Reading every station's record needs no more than SELECT.
TEST_F(HistoryServerTest, AReaderNeedsOnlySelect) {
    auto writer = openServer();
    ASSERT_TRUE(writer);
    Attempt a;
    a.id = QStringLiteral("read-me");
    a.started = QDateTime::currentDateTimeUtc();
    a.port = QStringLiteral("1-1");
    ASSERT_TRUE(writer->write(a));
    ASSERT_TRUE(server->addRole(QStringLiteral("auditor"), QStringLiteral("look-only"),
                                {QStringLiteral("GRANT SELECT ON attempts, meta TO auditor")}));
    const QString url = QString(server->url(QStringLiteral("auditor"))).replace(QStringLiteral("auditor@"), QStringLiteral("auditor:look-only@"));
    QString why;
    const auto reader = AttemptHistory::openServer(url, &why, HistoryConnection::Access::Read);
    ASSERT_TRUE(reader) << why.toStdString();
    EXPECT_EQ(reader->list({}).size(), 1u) << reader->lastError().toStdString();
    EXPECT_FALSE(AttemptHistory::openServer(url, &why)) << "a writer's opening needs more";
}

TEST_F(HistoryServerTest, AServerThatDoesNotAnswerIsReportedQuickly) {
    ASSERT_TRUE(server->stop());
    {
        // The sender's state, as the faces read it: failing from the first round, back once
        // the server is.
        HistorySender sender(dir.filePath(QStringLiteral("sender.sqlite")), server->url(), std::chrono::milliseconds(200));
        sender.start();
        EXPECT_TRUE(within(10, [&] { return sender.state().failing; }));
        EXPECT_TRUE(sender.state().reason.contains(QStringLiteral("cannot reach the history server")))
            << sender.state().reason.toStdString();
        EXPECT_LE(std::abs(sender.state().since.secsTo(QDateTime::currentDateTimeUtc())), 10);
        ASSERT_TRUE(server->start());
        EXPECT_TRUE(within(20, [&] { return !sender.state().failing; }));
        ASSERT_TRUE(server->stop());
    }
    QElapsedTimer timer;
    timer.start();
    QString why;
    EXPECT_FALSE(AttemptHistory::openServer(server->url(), &why));
    EXPECT_TRUE(why.contains(QStringLiteral("cannot reach the history server"))) << why.toStdString();
    EXPECT_LT(timer.elapsed(), (history::kConnectTimeoutSecs + 2) * 1000);
}

// A round held up on the server (here by a lock another session keeps) is cut off when the
// sender is destroyed: its thread ends before the program does, and the row waits locally.
TEST_F(HistoryServerTest, ARoundHeldOnTheServerIsCutOffAtTheEnd) {
    const QString file = dir.filePath(QStringLiteral("held.sqlite"));
    auto local = AttemptHistory::open(file, nullptr);
    ASSERT_TRUE(local);
    const auto attempt = [](const char* id) {
        Attempt a;
        a.id = QString::fromLatin1(id);
        a.started = QDateTime::currentDateTimeUtc();
        a.port = QStringLiteral("1-1");
        return a;
    };
    ASSERT_TRUE(local->write(attempt("first")));
    QString why;
    auto locker = HistoryConnection::openServer(server->url(), &why);
    ASSERT_TRUE(locker) << why.toStdString();
    QSqlQuery lock(locker->database());
    QElapsedTimer stopping;
    {
        HistorySender sender(file, server->url(), std::chrono::milliseconds(200));
        sender.start();
        ASSERT_TRUE(within(20, [&] { return local->unsentCount() == 0; })); // connected, and it stays so
        ASSERT_TRUE(lock.exec(QStringLiteral("BEGIN")));
        ASSERT_TRUE(lock.exec(QStringLiteral("LOCK TABLE attempts IN ACCESS EXCLUSIVE MODE")));
        ASSERT_TRUE(local->write(attempt("held")));
        sender.sendSoon();
        QThread::msleep(1000);
        stopping.start();
    }
    EXPECT_LT(stopping.elapsed(), HistorySender::kRoundWaitMs + 2000) << "the round was cut, not waited out";
    EXPECT_EQ(local->unsentCount(), 1) << "the held row waits in the local record";
    EXPECT_TRUE(lock.exec(QStringLiteral("ROLLBACK")));
}
