#pragma once
// Ed25519 keys of package makers, through OpenSSL: making a pair, signing a manifest, and the
// public keys the check trusts. Key files are PEM: "<id>.key" (secret, PKCS #8) and
// "<id>.pub" (public); a key's id is the first 8 bytes of the SHA-256 of its raw public key,
// in hex.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

typedef struct evp_pkey_st EVP_PKEY;

namespace package {

// The machine's trusted keys, beside each bundle's own Contents/Resources/keys.
inline const QString kSystemKeysDir = QStringLiteral("/etc/hotspot-updater/keys");

using KeyHandle = std::shared_ptr<EVP_PKEY>;

struct PublicKey {
    QByteArray id;
    KeyHandle key;
    QString path; // the file it came from
};

// A new key pair written into `dir` (the secret file 0600). Returns the id; nullopt with
// `error` filled when it cannot be made or written.
std::optional<QByteArray> generateKeyPair(const QString& dir, QString* error);

// The signature of `message` by the secret key in `keyFile`, with the key's id.
struct Signed {
    QByteArray keyId;
    QByteArray signature;
};
std::optional<Signed> signWithKeyFile(const QString& keyFile, const QByteArray& message, QString* error);

bool verifySignature(const PublicKey& key, const QByteArray& message, const QByteArray& signature);

// The keys a check trusts: every "*.pub" of the folders that holds an Ed25519 public key.
class TrustedKeys {
public:
    // Where the keys may come from. A key file is taken only when it is a regular file (not a
    // link) that root or the folder's `owner` owns and nobody else may write, in a folder that
    // passes KeyFolder's judgement.
    struct Folder {
        QString path;
        uid_t owner = 0;
    };
    struct Source {
        std::vector<Folder> folders;

        // An installed program's keys: its bundle's own ("keys" in its resources, when it has
        // any) and the machine's, each file owned by `owner` (root for installed bundles).
        static Source installed(const QString& resourcesDir, const QString& systemDir, uid_t owner);
        // A folder given by this user: their files or root's.
        void add(const QString& folder) { folders.push_back({folder, ::getuid()}); }
    };
    // `log` receives a line for every key file passed over.
    [[nodiscard]] static TrustedKeys load(const Source& source, const std::function<void(const QString&)>& log);

    bool empty() const { return m_keys.empty(); }
    const PublicKey* find(const QByteArray& id) const;
    void add(PublicKey key) { m_keys.push_back(std::move(key)); }

    // Some key folder exists: then only a package signed by a key that loads is taken.
    bool required() const { return !m_present.isEmpty(); }
    // Why no key loads: every key or folder refused, "; "-separated.
    QString whyNone() const;

private:
    void loadFolder(const Folder& folder, const std::function<void(const QString&)>& log);
    void refuse(const QString& why, const std::function<void(const QString&)>& log);

    std::vector<PublicKey> m_keys;
    QStringList m_present;  // the key folders that exist
    QStringList m_searched; // every folder looked at
    QStringList m_refusals;
};

} // namespace package
