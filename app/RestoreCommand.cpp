#include "app/RestoreCommand.h"

#include "app/StringTable.h"
#include "bridge/DeviceData.h"
#include "bridge/DeviceProbes.h"
#include "bridge/ModeSwitch.h"
#include "bridge/ToolRunner.h"
#include "workflow/AdbReach.h"
#include "workflow/Messages.h"
#include "workflow/StoredCopies.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <unistd.h>

namespace {

QString savedOn(const BackupManifest& m) {
    const QDateTime saved = QDateTime::fromString(m.created, Qt::ISODate);
    return saved.isValid() ? saved.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")) : m.created;
}

QString portOf(const BackupManifest& m) { return m.port.isEmpty() ? QStringLiteral("?") : m.port; }

QString digestOf(const BackupManifest& m) { return m.unit.isEmpty() ? QStringLiteral("not saved") : m.unit.left(12); }

QString describe(const StoredCopies& copies) {
    const BackupManifest& m = copies.manifest;
    const QString id = entryId(copies);
    if (!copies.readable)
        return QStringLiteral("%1  (no readable manifest)\n     %2\n").arg(id, copies.entry);
    const QString journal = m.journal.isEmpty() ? QStringLiteral("-") : QFileInfo(m.journal).fileName();
    return QStringLiteral("%1  %2  port %3  calibration %4  %5  journal %6%7\n     %8\n")
        .arg(id, savedOn(m), portOf(m), digestOf(m),
             copies.confirmed ? QStringLiteral("confirmed back") : QStringLiteral("NOT confirmed back"), journal,
             m.found ? QStringLiteral(" (what a unit held before other data went onto it)") : QString(), copies.entry);
}

QJsonObject entryJson(const StoredCopies& copies) {
    const BackupManifest& m = copies.manifest;
    QJsonObject json{{"id", entryId(copies)}, {"folder", copies.entry}, {"readable", copies.readable}};
    if (!copies.readable)
        return json;
    json.insert("created", m.created);
    json.insert("saved_at_port", m.port);
    json.insert("calibration", m.unit);
    json.insert("confirmed", copies.confirmed);
    json.insert("journal", m.journal);
    json.insert("found", m.found);
    return json;
}

QString fillAll(const char* key, const QStringList& args) {
    QString text = messages::lookup(key);
    for (const QString& arg : args)
        text = messages::fill(text, arg);
    return text;
}

// What the command prints: lines, or with --json one object per event, the last the result.
class RestoreReport {
public:
    RestoreReport(bool json, std::FILE* out) : m_json(json), m_out(out) {}

    void line(const QString& text) const {
        if (!m_json)
            std::fputs(qPrintable(text), m_out);
    }
    void event(const char* name, QJsonObject fields) const {
        if (!m_json)
            return;
        fields.insert("event", QString::fromLatin1(name));
        std::fputs(QJsonDocument(fields).toJson(QJsonDocument::Compact).append('\n').constData(), m_out);
        std::fflush(m_out);
    }
    // Ends the command: the message on standard error when it failed, and the result event.
    int result(int status, const char* outcome, const QString& message, QJsonObject fields = {}) const {
        std::fflush(m_out);
        if (!message.isEmpty() && status != exitstatus::kOk)
            std::fprintf(stderr, "hotspot-updater: %s\n", qPrintable(message));
        else if (!message.isEmpty())
            say(message);
        fields.insert("outcome", QString::fromLatin1(outcome));
        fields.insert("exit", status);
        if (!message.isEmpty())
            fields.insert("message", message);
        event("result", fields);
        return status;
    }
    // One line of the text output.
    void say(const QString& text) const { line(text + u'\n'); }

private:
    bool m_json;
    std::FILE* m_out;
};

int list(const std::vector<StoredCopies>& all, const BackupStore& store, const RestoreReport& report) {
    if (all.empty())
        report.say(QStringLiteral("no stored copies in %1").arg(store.root()));
    for (const StoredCopies& copies : all) {
        report.line(describe(copies));
        report.event("entry", entryJson(copies));
    }
    return report.result(exitstatus::kOk, "listed", QString(), {{"entries", int(all.size())}});
}

bool userAgrees(std::FILE* out) {
    if (!::isatty(STDIN_FILENO))
        return false;
    std::fputs(qPrintable(messages::lookup("restore Put this data on that hotspot? [y/N] ")), out);
    std::fflush(out);
    char line[64] = {};
    if (!std::fgets(line, sizeof line, stdin))
        return false;
    const QByteArray answer = QByteArray(line).trimmed().toLower();
    return answer == "y" || answer == "yes";
}

// The unit's present calibration's digest; empty when it cannot be read.
QString presentCalibration(const DeviceData& data) {
    const std::optional<QByteArray> now = data.readCalibration();
    return now ? QString::fromLatin1(QCryptographicHash::hash(*now, QCryptographicHash::Sha256).toHex()) : QString();
}

// The question, as the user decides it: whose data it is, where it goes, and plainly when it
// is not the calibration the unit holds now.
QStringList question(const StoredCopies& chosen, const QString& port, const QString& present) {
    const BackupManifest& m = chosen.manifest;
    QStringList lines{fillAll("restore Entry %s: saved from the hotspot at port %s on %s, calibration %s.",
                              {entryId(chosen), portOf(m), savedOn(m), digestOf(m)}),
                      messages::lookupFilled("restore It goes onto the hotspot at %s; what that hotspot holds now is saved first.", port)};
    if (present.isEmpty())
        lines << messages::lookupFilled("restore The calibration of the hotspot at %s could not be read: nothing shows that this is its data.", port);
    else if (present != m.unit)
        lines << fillAll("restore The hotspot at %s holds another calibration (%s): this is not its own data.",
                         {port, present.left(12)});
    return lines;
}

QString reachFailure(AdbReach reach, const QString& port) {
    switch (reach) {
    case AdbReach::BootLoader:
        return QStringLiteral("the hotspot at %1 is in its boot loader: nothing was put back; run the updater to finish "
                              "its update, or restart it, then run this again").arg(port);
    case AdbReach::Refused:
        return QStringLiteral("this user may not use the hotspot at %1: nothing was put back").arg(port);
    case AdbReach::NoUnit:
    case AdbReach::Reached:
        break;
    }
    return QStringLiteral("no hotspot that adb reaches at %1 (one plugged in normally is switched first): nothing was "
                          "put back; check its cable and the port (the updater's window lists the ports)").arg(port);
}

int reportPutBack(PutBack put, const StoredCopies& chosen, const BackupRun& before, const QString& port,
                  const QJsonObject& fields, const RestoreReport& report) {
    switch (put) {
    case PutBack::Confirmed:
        return report.result(exitstatus::kOk, "restored",
                             QStringLiteral("put back and read back from the hotspot at %1; it restarts now. What it held "
                                            "before is entry %2")
                                 .arg(port, before.entry.isEmpty() ? QStringLiteral("(nothing)") : QDir(before.entry).dirName()),
                             fields);
    case PutBack::NoUnitThere:
        return report.result(exitstatus::kNoDevice, "no device", reachFailure(AdbReach::NoUnit, port), fields);
    case PutBack::NothingToPut:
        return report.result(exitstatus::kUsage, "usage", QStringLiteral("%1 holds no copies to put back").arg(chosen.entry), fields);
    case PutBack::NotSaved:
        return report.result(exitstatus::forUpdateResult(int(UpdateResult::Error)), "not saved",
                             QStringLiteral("what the hotspot at %1 holds could not be saved: nothing was put back").arg(port),
                             fields);
    case PutBack::NotBack:
        break;
    }
    return report.result(exitstatus::forUpdateResult(int(UpdateResult::DataNotBack)), "not back",
                         QStringLiteral("the data did not read back from the hotspot at %1; the copies stay in %2, and what "
                                        "it held before in %3")
                             .arg(port, chosen.entry, before.entry),
                         fields);
}

int putOnUnit(const Environment& env, const TerminalOptions& options, const StoredCopies& chosen, const RestoreReport& report,
              const Tools& tools, const DeviceProbes& probes, ModeSwitch& switches) {
    const QString& port = options.restorePort;
    const DeviceData data(tools, probes, BackupStore::forDataHome(env.dataHome, env.home), env.hostTmp);
    QJsonObject fields{{"id", entryId(chosen)}, {"port", port}};
    const AdbReach reach = bringToAdb(probes, switches, {env.sysfsRoot, port}, *env.clock);
    if (reach != AdbReach::Reached)
        return report.result(reach == AdbReach::Refused ? exitstatus::kDeviceAccess : exitstatus::kNoDevice, "no device",
                             reachFailure(reach, port), fields);

    const QString present = presentCalibration(data);
    const bool itsOwn = !present.isEmpty() && present == chosen.manifest.unit;
    fields.insert("calibration", chosen.manifest.unit);
    fields.insert("present_calibration", present);
    fields.insert("its_own", itsOwn);
    const QStringList lines = question(chosen, port, present);
    for (const QString& text : lines)
        report.say(text);
    QJsonObject asked = fields;
    asked.insert("text", lines.join(u'\n'));
    report.event("question", asked);
    if (options.yes && !itsOwn && !options.restoreOtherCalibration)
        return report.result(exitstatus::kUnitQuestion, "untouched",
                             messages::lookupFilled("restore Left untouched: --yes does not decide whose data goes where. Run "
                                                    "again with --other-calibration to put it on the hotspot at %s all the "
                                                    "same, or choose the entry saved from that hotspot (--restore lists them).",
                                                    port),
                             fields);
    if (!options.yes && !userAgrees(stderr))
        return report.result(exitstatus::kDeclined, "declined", QStringLiteral("nothing was put back"), fields);

    BackupRun before;
    const PutBack put = putBack(data, probes, chosen, port, before);
    if (!before.entry.isEmpty())
        fields.insert("saved_before", QDir(before.entry).dirName());
    return reportPutBack(put, chosen, before, port, fields, report);
}
} // namespace

int runRestore(const Environment& env, const TerminalOptions& options, std::FILE* out) {
    stringtable::install(env.resourcesPath());
    const RestoreReport report(options.output == TerminalOptions::Output::Json, out);
    const BackupStore store = BackupStore::forDataHome(env.dataHome, env.home);
    const std::vector<StoredCopies> all = storedCopies(store);
    if (options.restoreEntry.isEmpty())
        return list(all, store, report);
    bool isNumber = false;
    options.restoreEntry.toInt(&isNumber);
    if (isNumber)
        return report.result(exitstatus::kUsage, "usage",
                             QStringLiteral("entries are named by their id, not by a number, which an update in between "
                                            "would shift: --restore lists the ids (such as 20261209T080000Z)"));
    const StoredCopies* chosen = entryById(all, options.restoreEntry);
    if (!chosen)
        return report.result(exitstatus::kUsage, "usage",
                             QStringLiteral("no single entry is named '%1'; --restore lists them (give the folder when two "
                                            "share an id)").arg(options.restoreEntry));
    report.line(describe(*chosen));
    if (!chosen->readable || chosen->manifest.files.empty())
        return report.result(exitstatus::kUsage, "usage", QStringLiteral("%1 holds no copies to put back").arg(chosen->entry));
    const Tools tools = Tools(env.resourcesPath(), env.toolLimits).forPort(options.restorePort);
    const DeviceProbes probes(tools, env.sysfsRoot);
    ModeSwitch switches;
    const int status = putOnUnit(env, options, *chosen, report, tools, probes, switches);
    // As at the end of an update: the unit is left in its permanent user personality.
    switches.sendFinal({{env.sysfsRoot, options.restorePort}});
    return status;
}
