// The terminal face without a display: options, exit statuses, and what it prints. Linked
// against the core and the terminal only, which proves they build without Qt Widgets.

#include "app/CommandLine.h"
#include "app/SharedRecordWatch.h"
#include "app/TerminalFace.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <gtest/gtest.h>

namespace {

QStringList args(std::initializer_list<const char*> list) {
    QStringList out{QStringLiteral("hotspot-updater")};
    for (const char* a : list)
        out << QString::fromUtf8(a);
    return out;
}

// Runs `show` on a face writing to a temporary file; returns what it wrote.
QStringList printed(TerminalFace::Style style, const std::function<void(TerminalFace&)>& show) {
    std::FILE* out = std::tmpfile();
    TerminalFace face(style, out, out);
    show(face);
    std::fflush(out);
    std::rewind(out);
    QByteArray bytes(4096, '\0');
    bytes.resize(static_cast<qsizetype>(std::fread(bytes.data(), 1, bytes.size(), out)));
    std::fclose(out);
    return QString::fromUtf8(bytes).split(u'\n', Qt::SkipEmptyParts);
}

void showAnUpdate(TerminalFace& f) {
    f.showStatus(QStringLiteral("Searching"));
    f.showStatus(QStringLiteral("Searching")); // posted again every pass: printed once
    f.showInfo(QStringLiteral("Current version\n\t1.0\nVersion after the update:\n\t1.2"));
    f.showProgress(-1);
    f.showProgress(0.0);
    f.showProgress(0.505);
    f.showProgress(0.509);
    f.showProgress(7.0);
    f.showWarning(QStringLiteral("Do not unplug"));
    f.showWarning(std::nullopt);
    f.showAlert(QStringLiteral("Install the rule"));
}

} // namespace

TEST(TerminalOptions, ReadOrRefused) {
    struct Case {
        QStringList arguments;
        bool terminal;
        const char* error; // substring, or nullptr when accepted
    } cases[] = {
        {args({}), false, nullptr},
        {args({"--cli"}), true, nullptr},
        {args({"--check"}), true, nullptr},
        {args({"-style", "fusion"}), false, nullptr},
        {args({"--cli", "--wait", "0"}), true, "--wait"},
        {args({"--cli", "--wait", "ten"}), true, "--wait"},
        {args({"--cli", "--check", "--yes"}), true, "--check"},
        {args({"--cli", "--quiet", "--json"}), true, "--quiet"},
        {args({"--cli", "--bogus"}), true, "bogus"},
        {args({"--cli", "extra"}), true, "extra"},
        {args({"--history"}), true, nullptr},
        {args({"--history", "--since", "2026-12-09T14:00", "--port", "1-2.3", "--unit", "ab12", "--csv"}), true, nullptr},
        {args({"--history", "--station", "bench-2"}), true, nullptr},
        {args({"--history", "--station=bench-2", "--json"}), true, nullptr},
        {args({"--history", "--station"}), true, "--station takes a station's name"},
        {args({"--history-db", "postgresql://u@db.example/h"}), false, nullptr},
        {args({"--history", "--since", "yesterday"}), true, "--since takes"},
        {args({"--history", "--since", "2026-02-30"}), true, "--since takes"},
        {args({"--history", "--json", "--csv"}), true, "--json and --csv"},
        {args({"--history", "--yes"}), true, "--history cannot be used with --yes"},
        {args({"--history", "--restore"}), true, "--history cannot be used with --restore"},
        {args({"--history", "--port", "1/2"}), true, "not a USB port path"},
        {args({"--history", "--unit", " "}), true, "--unit takes"},
        {args({"--csv"}), true, "--csv is for --history"},
        {args({"--port", "1-2"}), true, "--port is for --restore or --history"},
        {args({"--restore", "--port", "1-2"}), true, "both --entry and --port"},
        {args({"--restore", "--entry", "20261209T080000Z", "--port", "1-2", "--yes", "--other-calibration", "--json"}), true, nullptr},
        {args({"--restore", "--other-calibration"}), true, "--other-calibration is for --restore --entry"},
        {args({"--other-calibration"}), true, "--other-calibration is for --restore --entry"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(u' ').toStdString());
        EXPECT_EQ(cmdline::wantsTerminal(c.arguments), c.terminal);
        if (!c.terminal)
            continue;
        TerminalOptions options;
        const std::optional<QString> error = cmdline::readTerminalOptions(c.arguments, options);
        if (c.error)
            EXPECT_TRUE(error && error->contains(QLatin1String(c.error))) << error.value_or("accepted").toStdString();
        else
            EXPECT_FALSE(error) << error->toStdString();
    }
    TerminalOptions options;
    ASSERT_FALSE(cmdline::readTerminalOptions(args({"--cli", "--yes", "--wait", "30", "--json"}), options));
    EXPECT_TRUE(options.yes);
    EXPECT_EQ(options.waitSeconds, 30);
    EXPECT_EQ(options.output, TerminalOptions::Output::Json);
}

TEST(TerminalOptions, EveryUpdateResultHasItsOwnExitStatus) {
    const std::pair<int, int> cases[] = {{0, 0}, {1, 21}, {2, 22}, {4, 24}, {5, 25}, {6, 26},
                                         {7, 27}, {8, 28}, {29, 49}, {30, 50}, {-1, 50}};
    for (auto [result, status] : cases)
        EXPECT_EQ(exitstatus::forUpdateResult(result), status) << result;
}

TEST(TerminalFace, LinesCarryEveryChangeOnce) {
    const QStringList lines = printed(TerminalFace::Style::Lines, showAnUpdate);
    QStringList texts;
    for (const QString& line : lines)
        texts << line.section(u' ', 1); // without the timestamp
    EXPECT_EQ(texts, (QStringList{"Searching", "Current version: 1.0", "Version after the update: 1.2", "0 %",
                                  "50 %", "100 %", "! Do not unplug", "Install the rule"}));
}

TEST(TerminalFace, JsonIsOneObjectPerEvent) {
    const QStringList lines = printed(TerminalFace::Style::Json, showAnUpdate);
    QStringList events;
    for (const QString& line : lines) {
        if (line.startsWith(QLatin1String("hotspot-updater:")))
            continue; // the alert's standard-error line, same file here
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
        ASSERT_FALSE(o.isEmpty()) << line.toStdString();
        events << o.value(QStringLiteral("event")).toString() + u' ' +
                      o.value(QStringLiteral("text")).toString() +
                      (o.contains(QStringLiteral("percent")) ? QString::number(o.value(QStringLiteral("percent")).toInt())
                                                             : QString());
    }
    EXPECT_EQ(events, (QStringList{"status Searching", "info Current version\n\t1.0\nVersion after the update:\n\t1.2",
                                   "progress 0", "progress 50", "progress 100", "warning Do not unplug",
                                   "alert Install the rule"}));
}

TEST(TerminalFace, QuietPrintsOnlyErrors) {
    EXPECT_EQ(printed(TerminalFace::Style::Quiet, showAnUpdate), QStringList{"hotspot-updater: Install the rule"});
}

// A server that fails is said once when it starts and once when it is back, in every style;
// more attempts waiting meanwhile is no new line.
TEST(TerminalFace, TheSharedRecordFailingAndBackAreOneLineEach) {
    const QDateTime since(QDate(2026, 12, 9), QTime(10, 42));
    const auto failAndRecover = [&](TerminalFace& f) {
        f.sharedRecordChanged({true, since.toUTC(), QStringLiteral("password authentication failed for user \"station\""), 1});
        f.sharedRecordChanged({true, since.toUTC(), QStringLiteral("password authentication failed for user \"station\""), 3});
        f.sharedRecordChanged({false, since.addSecs(600).toUTC(), {}, 0});
    };
    for (const TerminalFace::Style style : {TerminalFace::Style::Lines, TerminalFace::Style::Quiet}) {
        const QStringList lines = printed(style, failAndRecover);
        EXPECT_EQ(lines, (QStringList{"hotspot-updater: the shared record is not reachable since 10:42, 1 attempts waiting on "
                                      "this machine: password authentication failed for user \"station\"",
                                      "hotspot-updater: the shared record takes the attempts again"}));
    }
    EXPECT_EQ(sharedrecord::windowLine({true, since.toUTC(), {}, 3}),
              QStringLiteral("stat Shared record: not reachable since 10:42 — 3 attempts waiting"));
    EXPECT_TRUE(sharedrecord::windowLine({false, {}, {}, 3}).isEmpty());
    EXPECT_EQ(sharedrecord::summaryLine({true, since.toUTC(), {}, 3}),
              QStringLiteral("3 attempts wait for the shared record (not reachable since 10:42)"));
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
