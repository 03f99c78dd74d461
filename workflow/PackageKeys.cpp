#include "workflow/PackageKeys.h"
#include "workflow/PackageReader.h"

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

std::optional<QByteArray> readSmallFile(int fd) {
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = file.read(kMaxKeyFile);
    return file.error() == QFileDevice::NoError ? std::optional(bytes) : std::nullopt;
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
    const std::optional<QByteArray> pem = readFileBytes(keyFile, kMaxKeyFile);
    if (!pem) {
        *error = QStringLiteral("cannot read %1").arg(keyFile);
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
    for (const QString& folder : source.folders) {
        for (const QString& name : QDir(folder).entryList({QStringLiteral("*.pub")}, QDir::Files | QDir::Hidden, QDir::Name)) {
            const QString path = QDir(folder).filePath(name);
            // The file that is judged is the file that is read: one descriptor for both.
            const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
            if (fd < 0) {
                log(QStringLiteral("key file %1 cannot be read; ignored").arg(path));
                continue;
            }
            struct stat st {};
            const bool judged = ::fstat(fd, &st) == 0;
            const bool trusted = judged && S_ISREG(st.st_mode) &&
                                 (!source.owner || (st.st_uid == *source.owner && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0));
            const std::optional<QByteArray> pem = trusted ? readSmallFile(fd) : std::nullopt;
            ::close(fd);
            if (!trusted) {
                const uid_t owner = source.owner.value_or(0);
                log(QStringLiteral("key file %1 may be changed by a user other than %2; ignored")
                        .arg(path, owner == 0 ? QStringLiteral("root") : QStringLiteral("uid %1").arg(owner)));
                continue;
            }
            std::optional<PublicKey> key = pem ? publicKeyFromPem(*pem, path) : std::nullopt;
            if (!key) {
                log(QStringLiteral("key file %1 holds no Ed25519 public key; ignored").arg(path));
                continue;
            }
            keys.add(std::move(*key));
        }
    }
    return keys;
}

TrustedKeys::Source TrustedKeys::Source::installed(const QString& resourcesDir, const QString& systemDir, uid_t owner) {
    Source source;
    if (!resourcesDir.isEmpty())
        source.folders << resourcesDir + QStringLiteral("/keys");
    source.folders << systemDir;
    source.owner = owner;
    return source;
}

const PublicKey* TrustedKeys::find(const QByteArray& id) const {
    for (const PublicKey& key : m_keys)
        if (key.id == id)
            return &key;
    return nullptr;
}

} // namespace package
