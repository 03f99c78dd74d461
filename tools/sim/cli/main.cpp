// hotspot-sim: sets up the simulated hotspot and plugs, unplugs and inspects it, so a person
// can play with the device from another terminal while the application runs.

#include "SimControl.h"
#include "cli/MakeImage.h"
#include "core/Units.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTextStream>

namespace {

QTextStream& out()
{
    static QTextStream s(stdout);
    return s;
}

int fail(const QString& message)
{
    QTextStream(stderr) << "hotspot-sim: " << message << Qt::endl;
    return 2;
}

// "key=value": the value as JSON when it reads as JSON, otherwise as text.
bool parseAssignment(const QString& text, QString* key, QJsonValue* value)
{
    const qsizetype eq = text.indexOf(QLatin1Char('='));
    if (eq <= 0)
        return false;
    *key = text.left(eq).trimmed();
    const QString raw = text.mid(eq + 1);
    const QJsonDocument doc = QJsonDocument::fromJson("[" + raw.toUtf8() + "]");
    *value = doc.isArray() && doc.array().size() == 1 ? doc.array().first() : QJsonValue(raw);
    return true;
}

int status(SimControl& sim, const QString& port, bool json)
{
    const QJsonObject state = sim.state();
    if (json) {
        // A hub's state holds every unit's settings and device; a port asks for one device.
        out() << QJsonDocument(port.isEmpty() ? state : sim.device(port)).toJson(QJsonDocument::Indented);
        return 0;
    }
    const QJsonObject dev = sim.device(port);
    const QJsonObject scn = sim::unitPart(state, port, QStringLiteral("scenario"));
    const QStringList ports = sim.ports();
    out() << "scenario:     " << scn.value(QLatin1String("name")).toString() << "\n";
    if (ports.size() > 1)
        out() << "units:        " << ports.join(QLatin1Char(' ')) << "\n";
    out() << "port:         " << sim::resolvePort(state, port) << "\n"
          << "plugged:      " << (sim.plugged(port) ? "yes" : "no") << "\n"
          << "personality:  " << sim.personality(port) << "\n"
          << "usb:          " << sim.identities(port).join(QLatin1Char(' ')) << "\n"
          << "adb:          " << (sim.adbReaches(port) ? "reaches it" : "-") << "\n"
          << "fastboot:     " << (sim.fastbootReaches(port) ? "reaches it" : "-") << "\n"
          << "firmware:     " << dev.value(QLatin1String("firmware_version")).toString() << "\n"
          << "restarts:     " << dev.value(QLatin1String("restarts")).toInt() << "\n"
          << "pending:      "
          << QJsonDocument(dev.value(QLatin1String("pending")).toObject()).toJson(QJsonDocument::Compact) << "\n"
          << "partitions:   "
          << QJsonDocument(dev.value(QLatin1String("partitions")).toObject()).toJson(QJsonDocument::Compact) << "\n"
          << "faults:       "
          << QJsonDocument(scn.value(QLatin1String("faults")).toObject()).toJson(QJsonDocument::Compact) << "\n";
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("hotspot-sim"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulated hotspot.\n"
        "Commands: init --scenario NAME|FILE|JSON, plug, unplug, status [--json], log [--kind K],\n"
        "          set KEY=VALUE... (faults.KEY=VALUE for a fault), personality NAME, advance [N],\n"
        "          clear-log, scenarios, make-image FILE --size BYTES [--seed N]"));
    parser.addHelpOption();
    const QCommandLineOption dirOption(QStringLiteral("dir"),
        QStringLiteral("State folder (default: $HOTSPOT_SIM_DIR)."), QStringLiteral("dir"));
    const QCommandLineOption scenarioOption(QStringLiteral("scenario"),
        QStringLiteral("Scenario name, file or JSON text (init)."), QStringLiteral("scenario"));
    const QCommandLineOption jsonOption(QStringLiteral("json"), QStringLiteral("Whole state as JSON (status)."));
    const QCommandLineOption kindOption(QStringLiteral("kind"),
        QStringLiteral("Only records of this kind: adb, fastboot, usb (log)."), QStringLiteral("kind"));
    const QCommandLineOption sizeOption(QStringLiteral("size"), QStringLiteral("Image size in bytes."),
        QStringLiteral("bytes"));
    const QCommandLineOption seedOption(QStringLiteral("seed"), QStringLiteral("Generator seed."),
        QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption portOption(QStringLiteral("port"),
        QStringLiteral("The unit at this USB port path (default: every unit for plug and unplug, the first "
                       "for status, personality, set and advance)."), QStringLiteral("path"));
    parser.addOptions({dirOption, scenarioOption, jsonOption, kindOption, sizeOption, seedOption, portOption});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("What to do."));
    parser.process(app);

    QStringList args = parser.positionalArguments();
    if (args.isEmpty())
        parser.showHelp(2);
    const QString command = args.takeFirst();

    if (command == QLatin1String("scenarios")) {
        const QStringList files = QDir(SimControl::scenariosDir()).entryList({QStringLiteral("*.json")}, QDir::Files);
        for (const QString& f : files)
            out() << f.chopped(5) << "\n";
        return 0;
    }
    if (command == QLatin1String("make-image")) {
        bool ok = false;
        const qint64 size = parser.value(sizeOption).toLongLong(&ok);
        if (args.size() != 1 || !ok || size < 0)
            return fail(QStringLiteral("make-image FILE --size BYTES [--seed N]"));
        QString error;
        if (!makeImage(args.first(), size, parser.value(seedOption).toUInt(), &error))
            return fail(error);
        return 0;
    }

    const QString dir = parser.isSet(dirOption) ? parser.value(dirOption) : qEnvironmentVariable("HOTSPOT_SIM_DIR");
    if (dir.isEmpty())
        return fail(QStringLiteral("no state folder: set HOTSPOT_SIM_DIR or give --dir"));
    SimControl sim(dir);
    const QString port = parser.value(portOption);
    if (!port.isEmpty() && !sim.ports().contains(port))
        return fail(QStringLiteral("no unit at port %1 (units: %2)").arg(port, sim.ports().join(QLatin1Char(' '))));

    if (command == QLatin1String("init")) {
        QString error;
        if (!sim.loadScenario(parser.isSet(scenarioOption) ? parser.value(scenarioOption) : QStringLiteral("demo"), &error))
            return fail(error);
        return status(sim, QString(), false);
    }
    if (command == QLatin1String("plug")) {
        sim.plug(port);
        return 0;
    }
    if (command == QLatin1String("unplug")) {
        sim.unplug(port);
        return 0;
    }
    if (command == QLatin1String("status"))
        return status(sim, port, parser.isSet(jsonOption));
    if (command == QLatin1String("log")) {
        const QString kind = parser.value(kindOption);
        for (const SimRecord& r : sim.records()) {
            if (kind.isEmpty() || r.kind == kind)
                out() << QJsonDocument(r.json).toJson(QJsonDocument::Compact) << "\n";
        }
        return 0;
    }
    if (command == QLatin1String("clear-log")) {
        sim.clearRecords();
        return 0;
    }
    if (command == QLatin1String("personality")) {
        if (args.size() != 1)
            return fail(QStringLiteral("personality ftm|usr|usr_adb|bootloader|restarting"));
        sim.setPersonality(args.first(), port);
        return status(sim, port, false);
    }
    if (command == QLatin1String("advance")) {
        sim.advance(args.isEmpty() ? 1 : args.first().toInt(), port);
        return 0;
    }
    if (command == QLatin1String("set")) {
        if (args.isEmpty())
            return fail(QStringLiteral("set KEY=VALUE..."));
        for (const QString& a : args) {
            QString key;
            QJsonValue value;
            if (!parseAssignment(a, &key, &value))
                return fail(QStringLiteral("not KEY=VALUE: ") + a);
            if (key.startsWith(QLatin1String("faults.")))
                sim.setFault(key.mid(7), value, port);
            else
                sim.set(key, value, port);
        }
        return 0;
    }
    if (command == QLatin1String("replace")) {
        // Another unit at the port: its settings changed by the JSON object given, and a
        // device made afresh from them, unplugged until "plug".
        const QJsonDocument settings = args.size() == 1 ? QJsonDocument::fromJson(args.first().toUtf8()) : QJsonDocument();
        if (port.isEmpty() || !settings.isObject())
            return fail(QStringLiteral("replace --port PATH '{\"firmware_version\": ..., \"files\": {...}}'"));
        sim.replaceUnit(settings.object(), port);
        return 0;
    }
    return fail(QStringLiteral("unknown command ") + command);
}
