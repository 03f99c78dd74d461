#pragma once
// The simulated device's state folder: state.json (the whole state, replaced atomically),
// records.jsonl (one JSON object per request, appended) and state.lock (flock'ed around every
// read-modify-write, so any number of tool processes and threads can share the device).

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

namespace sim {

// $HOTSPOT_SIM_DIR, or an empty text when it is unset.
QString envStateDir();

inline constexpr const char* kStateFile = "state.json";
inline constexpr const char* kRecordsFile = "records.jsonl";
inline constexpr const char* kLockFile = "state.lock";

// Holds the folder's lock from construction to destruction. state() is the state as read
// (the built-in default device when the folder has none yet); commit() writes it back and
// appends the records queued with record().
class Transaction {
public:
    explicit Transaction(const QString& dir);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    bool locked() const { return m_fd >= 0; }
    QJsonObject& state() { return m_state; }
    void record(const QJsonObject& entry) { m_records.append(entry); }
    // Empties the record log (done at commit).
    void truncateRecords() { m_truncate = true; }
    // Returns false when the state could not be written.
    bool commit();

private:
    QString m_dir;
    int m_fd = -1;
    QJsonObject m_state;
    QJsonValue m_busAsRead; // the bus record as read, to tell when the sysfs tree must follow
    QList<QJsonObject> m_records;
    bool m_truncate = false;
};

// All records of the folder, in the order they were made. Unreadable lines are skipped.
QList<QJsonObject> readRecords(const QString& dir);

} // namespace sim
