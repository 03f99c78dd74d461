#include "bridge/BackupStore.h"

#include "bridge/RunLog.h"
#include "bridge/DiskSync.h"
#include "bridge/PrivateFolder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSaveFile>

#include <algorithm>
#include <map>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A file's digest as lower-case hex; nullopt when it cannot be read.
std::optional<QString> fileDigest(const QString& path, QCryptographicHash::Algorithm algorithm) {
    // Regular files only, opened without waiting: a FIFO put in a file's place never hangs us.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat status {};
    QFile file;
    QCryptographicHash hash(algorithm);
    const bool read = fd >= 0 && ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
                      file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle) && hash.addData(&file);
    if (fd >= 0 && !file.isOpen())
        ::close(fd);
    if (!read)
        return std::nullopt;
    return QString::fromLatin1(hash.result().toHex());
}

std::optional<QString> fileMd5(const QString& path) { return fileDigest(path, QCryptographicHash::Md5); }

const QString kManifest = QStringLiteral("manifest.json");

QByteArray native(const QString& path) { return QFile::encodeName(path); }

// Every copy of the entry went back to the device. An entry without a readable manifest
// cannot tell, so it is not confirmed.
bool confirmedBack(const std::optional<BackupManifest>& manifest) {
    return manifest && std::all_of(manifest->files.cbegin(), manifest->files.cend(),
                                   [](const BackupFile& file) { return file.restored; });
}

} // namespace

QJsonObject BackupManifest::toJson() const {
    QJsonArray list;
    for (const BackupFile& f : files)
        list.append(QJsonObject{{"name", f.name},
                                {"devicePath", f.devicePath},
                                {"restoreTo", f.restoreTo},
                                {"size", f.size},
                                {"md5", f.md5},
                                {"sha256", f.sha256},
                                {"restored", f.restored}});
    QJsonObject json{{"serial", serial},
                     {"created", created},
                     {"deviceVersion", deviceVersion},
                     {"packageVersion", packageVersion},
                     {"files", list}};
    if (!notSaved.isEmpty())
        json.insert("notSaved", notSaved);
    if (!foundAt.isEmpty())
        json.insert("foundAt", foundAt);
    if (!unit.isEmpty())
        json.insert("unit", unit);
    if (!port.isEmpty())
        json.insert("port", port);
    if (!journal.isEmpty())
        json.insert("journal", journal);
    if (found)
        json.insert("found", true);
    return json;
}

BackupManifest BackupManifest::fromJson(const QJsonObject& json) {
    BackupManifest m;
    m.serial = json.value("serial").toString();
    m.created = json.value("created").toString();
    m.deviceVersion = json.value("deviceVersion").toString();
    m.packageVersion = json.value("packageVersion").toString();
    m.foundAt = json.value("foundAt").toString();
    m.notSaved = json.value("notSaved").toObject();
    m.unit = json.value("unit").toString();
    m.port = json.value("port").toString();
    m.journal = json.value("journal").toString();
    m.found = json.value("found").toBool();
    for (const QJsonValue& v : json.value("files").toArray()) {
        const QJsonObject f = v.toObject();
        m.files.push_back({f.value("name").toString(), f.value("devicePath").toString(),
                           f.value("restoreTo").toString(), f.value("size").toInteger(),
                           f.value("md5").toString(), f.value("sha256").toString(),
                           f.value("restored").toBool()});
    }
    return m;
}

QString BackupRun::unrestoredEntry() const {
    for (const BackupFile& file : manifest.files)
        if (!file.restored)
            return entry;
    return {};
}

BackupStore BackupStore::forDataHome(const std::optional<QString>& dataHomeFolder, const std::optional<QString>& home) {
    QString dataHome;
    if (dataHomeFolder)
        dataHome = *dataHomeFolder;
    else if (home && !home->isEmpty())
        dataHome = *home + QStringLiteral("/.local/share");
    if (dataHome.isEmpty())
        return BackupStore(QString());
    return BackupStore(dataHome + QStringLiteral("/hotspot-updater/backups"));
}

QString BackupStore::deviceFolder(const QString& serial) const {
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._-]"));
    QString name = serial;
    if (name != kUnknownDevice)
        name.replace(unsafe, QStringLiteral("_"));
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name = kUnknownDevice;
    return m_root + u'/' + name;
}

QString BackupStore::createEntry(const QString& serial, const QDateTime& utc) const {
    if (m_root.isEmpty())
        return {};
    const QString app = QFileInfo(m_root).path();
    const QString dataHome = QFileInfo(app).path();
    if (!QFileInfo(dataHome).isDir() && (!QDir().mkpath(dataHome) || !QFile::setPermissions(dataHome, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner)))
        return {};
    const QString device = deviceFolder(serial);
    if (!ensurePrivateDir(app) || !ensurePrivateDir(m_root) || !ensurePrivateDir(device))
        return {};
    const QString stamp = utc.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    for (int n = 0; n < 100; ++n) {
        const QString entry = device + u'/' + stamp + (n == 0 ? QString() : QStringLiteral("-%1").arg(n, 2, 10, QLatin1Char('0')));
        if (::mkdir(native(entry).constData(), 0700) == 0)
            return entry;
        if (errno != EEXIST)
            return {};
    }
    return {};
}

std::optional<BackupFile> BackupStore::seal(const QString& file, const QString& entry, const QString& name) {
    struct stat status {};
    if (::lstat(native(file).constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    const QString target = entry + u'/' + name;
    if (::chmod(native(file).constData(), 0600) != 0 || !syncToDisk(file))
        return std::nullopt;
    if (file != target && ::rename(native(file).constData(), native(target).constData()) != 0)
        return std::nullopt;
    const std::optional<QString> md5 = fileMd5(target);
    const std::optional<QString> sha = sha256(target);
    if (!md5 || !sha)
        return std::nullopt;
    BackupFile sealed;
    sealed.name = name;
    sealed.size = QFileInfo(target).size();
    sealed.md5 = *md5;
    sealed.sha256 = *sha;
    return sealed;
}

bool BackupStore::intact(const QString& entry, const BackupFile& file) {
    const QString path = entry + u'/' + file.name;
    struct stat status {};
    if (::lstat(native(path).constData(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size != file.size)
        return false;
    return fileMd5(path) == file.md5;
}

std::optional<QString> BackupStore::sha256(const QString& path) {
    return fileDigest(path, QCryptographicHash::Sha256);
}

std::optional<BackupManifest> BackupStore::readManifest(const QString& entry) {
    QFile file(entry + u'/' + kManifest);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll());
    if (!doc.isObject())
        return std::nullopt;
    return BackupManifest::fromJson(doc.object());
}

bool BackupStore::writeManifest(const QString& entry, const BackupManifest& manifest) const {
    QSaveFile file(entry + u'/' + kManifest);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = QJsonDocument(manifest.toJson()).toJson();
    if (file.write(bytes) != bytes.size() ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

QStringList BackupStore::entriesNewestFirst(const QString& serial) const {
    // Only folders named like entries: anything else the user put there is left alone.
    static const QRegularExpression entryName(QStringLiteral("^\\d{8}T\\d{6}Z(-\\d{2})?$"));
    const QString device = deviceFolder(serial);
    QStringList names = QDir(device).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
    names.removeIf([](const QString& n) { return !entryName.match(n).hasMatch(); });
    QStringList entries;
    for (auto it = names.crbegin(); it != names.crend(); ++it)
        entries << device + u'/' + *it;
    return entries;
}

void BackupStore::rotate(const QString& serial, const QStringList& named) const {
    std::map<QString, int> confirmed; // per unit
    for (const QString& entry : entriesNewestFirst(serial)) {
        const std::optional<BackupManifest> manifest = readManifest(entry);
        if (named.contains(entry) || !confirmedBack(manifest) || manifest->unit.isEmpty())
            continue;
        if (++confirmed[manifest->unit] > kKeepRuns)
            QDir(entry).removeRecursively();
    }
}

int BackupStore::dropSameData(const QString& serial, const QString& entry, const QStringList& named) const {
    std::map<QString, QString> present; // file name -> digest
    for (const QString& name : QDir(entry).entryList(QDir::Files | QDir::NoSymLinks))
        if (name != kManifest)
            present[name] = sha256(entry + u'/' + name).value_or(QString());
    int dropped = 0;
    for (const QString& other : entriesNewestFirst(serial)) {
        if (other == entry || named.contains(other))
            continue;
        // Every file counts, a manifest-less entry's too: left half-made, it is judged by its copies.
        const QStringList names = QDir(other).entryList(QDir::Files | QDir::NoSymLinks);
        bool same = !names.isEmpty();
        for (const QString& name : names)
            same = same && (name == kManifest || name.endsWith(QLatin1String(".part")) ||
                            (present.count(name) != 0 && !present[name].isEmpty() &&
                             sha256(other + u'/' + name) == present[name]));
        if (same && QDir(other).removeRecursively()) {
            runlog::write("backup", QStringLiteral("%1 went: the unit holds that data, as %2 shows").arg(other, entry));
            ++dropped;
        }
    }
    return dropped;
}
