#include "workflow/PackageKeys.h"
#include "workflow/KeyFolder.h"
#include "workflow/RegularFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace package {

namespace {

constexpr std::size_t kRawKeyBytes = 32;
// A PEM key is a few hundred bytes.
constexpr qint64 kMaxKeyFile = 64 * 1024;

using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

KeyHandle own(EVP_PKEY* key) { return KeyHandle(key, EVP_PKEY_free); }

// A read-only BIO over `bytes`, which it does not copy.
Bio memoryBio(const QByteArray& bytes) {
    return Bio(BIO_new_mem_buf(bytes.constData(), static_cast<int>(bytes.size())), BIO_free);
}

QByteArray bioBytes(BIO* bio) {
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio, &data);
    return QByteArray(data, static_cast<qsizetype>(n));
}

std::optional<QByteArray> keyIdOf(EVP_PKEY* key) {
    if (EVP_PKEY_get_base_id(key) != EVP_PKEY_ED25519)
        return std::nullopt;
    unsigned char raw[kRawKeyBytes];
    std::size_t length = sizeof raw;
    if (EVP_PKEY_get_raw_public_key(key, raw, &length) != 1 || length != kRawKeyBytes)
        return std::nullopt;
    const QByteArray digest = QCryptographicHash::hash(
        QByteArrayView(reinterpret_cast<const char*>(raw), static_cast<qsizetype>(length)), QCryptographicHash::Sha256);
    return digest.left(8).toHex();
}

std::optional<PublicKey> publicKeyFromPem(const QByteArray& pem, const QString& path) {
    Bio bio = memoryBio(pem);
    KeyHandle key = own(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
    if (!key)
        return std::nullopt;
    const std::optional<QByteArray> id = keyIdOf(key.get());
    if (!id)
        return std::nullopt;
    return PublicKey{*id, key, path};
}

bool writeFile(const QString& path, const QByteArray& bytes, QFileDevice::Permissions permissions, QString* error) {
    if (QFile::exists(path)) {
        *error = QStringLiteral("%1 exists already; not replaced").arg(path);
        return false;
    }
    QSaveFile file(path);
    // Permissions before the content goes in: a secret key is never readable by others.
    if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(permissions) || file.write(bytes) != bytes.size() ||
        !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace

std::optional<QByteArray> generateKeyPair(const QString& dir, QString* error) {
    KeyHandle key = own(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    const std::optional<QByteArray> id = key ? keyIdOf(key.get()) : std::nullopt;
    Bio secret(BIO_new(BIO_s_mem()), BIO_free);
    Bio pub(BIO_new(BIO_s_mem()), BIO_free);
    if (!id || !PEM_write_bio_PrivateKey(secret.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) ||
        !PEM_write_bio_PUBKEY(pub.get(), key.get())) {
        *error = QStringLiteral("cannot make an Ed25519 key pair");
        return std::nullopt;
    }
    const QString base = QDir(dir).filePath(QString::fromLatin1(*id));
    if (!writeFile(base + QStringLiteral(".key"), bioBytes(secret.get()), QFileDevice::ReadOwner | QFileDevice::WriteOwner,
                   error) ||
        !writeFile(base + QStringLiteral(".pub"), bioBytes(pub.get()),
                   QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther,
                   error))
        return std::nullopt;
    return id;
}

std::optional<Signed> signWithKeyFile(const QString& keyFile, const QByteArray& message, QString* error) {
    // The secret key is named on the command line: a link to it is fine, a FIFO is not.
    const RegularFile file = RegularFile::open(keyFile, RegularFile::Links::Follow);
    const std::optional<QByteArray> pem = file.readAll(kMaxKeyFile);
    if (!pem) {
        *error = QStringLiteral("cannot read %1: %2").arg(keyFile, file.isOpen() ? QStringLiteral("read error") : file.error());
        return std::nullopt;
    }
    Bio bio = memoryBio(*pem); // reads `pem` in place: it must outlive the BIO
    KeyHandle key = own(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    const std::optional<QByteArray> id = key ? keyIdOf(key.get()) : std::nullopt;
    if (!id) {
        *error = QStringLiteral("%1 holds no Ed25519 secret key").arg(keyFile);
        return std::nullopt;
    }
    DigestContext context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    QByteArray signature(EVP_PKEY_get_size(key.get()), Qt::Uninitialized);
    std::size_t length = static_cast<std::size_t>(signature.size());
    // Ed25519 signs the message itself: no digest is named.
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                       reinterpret_cast<const unsigned char*>(message.constData()),
                       static_cast<std::size_t>(message.size())) != 1) {
        *error = QStringLiteral("signing with %1 failed").arg(keyFile);
        return std::nullopt;
    }
    signature.resize(static_cast<qsizetype>(length));
    return Signed{*id, signature};
}

bool verifySignature(const PublicKey& key, const QByteArray& message, const QByteArray& signature) {
    DigestContext context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    return context && EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.key.get()) == 1 &&
           EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.constData()),
                            static_cast<std::size_t>(signature.size()),
                            reinterpret_cast<const unsigned char*>(message.constData()),
                            static_cast<std::size_t>(message.size())) == 1;
}

TrustedKeys TrustedKeys::load(const Source& source, const std::function<void(const QString&)>& log) {
    TrustedKeys keys;
    for (const Folder& folder : source.folders)
        keys.loadFolder(folder, log);
    return keys;
}

void TrustedKeys::refuse(const QString& why, const std::function<void(const QString&)>& log) {
    m_refusals << why;
    log(why + QStringLiteral("; ignored"));
}

void TrustedKeys::loadFolder(const Folder& folder, const std::function<void(const QString&)>& log) {
    m_searched << folder.path;
    struct stat entry {};
    // Anything by that name, even a dangling link, makes the keys required: fail closed.
    if (::lstat(QFile::encodeName(folder.path).constData(), &entry) != 0)
        return;
    m_present << folder.path;
    const std::vector<uid_t> owners{folder.owner, ::getuid()};
    const KeyFolder opened = KeyFolder::open(folder.path, owners);
    if (!opened.isOpen()) {
        refuse(opened.error(), log);
        return;
    }
    const QDir dir(folder.path);
    const QStringList names =
        dir.entryList({QStringLiteral("*.pub")}, QDir::Files | QDir::System | QDir::Hidden, QDir::Name);
    if (names.isEmpty())
        refuse(QStringLiteral("%1 holds no public key (*.pub)").arg(folder.path), log);
    for (const QString& name : names) {
        const QString path = dir.filePath(name);
        // Opened in the folder that was judged, without following a link.
        const RegularFile file = RegularFile::open(name, RegularFile::Links::Refuse, opened.fd());
        if (!file.isOpen()) {
            refuse(QStringLiteral("%1 %2").arg(path, file.error()), log);
            continue;
        }
        const QString writable = writableByOthers(path, file.status(), {folder.owner});
        if (!writable.isEmpty()) {
            refuse(writable, log);
            continue;
        }
        const std::optional<QByteArray> pem = file.readAll(kMaxKeyFile);
        std::optional<PublicKey> key = pem ? publicKeyFromPem(*pem, path) : std::nullopt;
        if (!key) {
            refuse(QStringLiteral("%1 holds no Ed25519 public key").arg(path), log);
            continue;
        }
        m_keys.push_back(std::move(*key));
    }
}

QString TrustedKeys::whyNone() const {
    if (!m_refusals.isEmpty())
        return m_refusals.join(QStringLiteral("; "));
    return QStringLiteral("no key folder exists (%1)").arg(m_searched.join(QStringLiteral(", ")));
}

TrustedKeys::Source TrustedKeys::Source::installed(const QString& resourcesDir, const QString& systemDir, uid_t owner) {
    Source source;
    if (!resourcesDir.isEmpty())
        source.folders.push_back({resourcesDir + QStringLiteral("/keys"), owner});
    source.folders.push_back({systemDir, owner});
    return source;
}

const PublicKey* TrustedKeys::find(const QByteArray& id) const {
    for (const PublicKey& key : m_keys)
        if (key.id == id)
            return &key;
    return nullptr;
}

} // namespace package
