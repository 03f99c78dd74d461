#pragma once
// The simulated device's state folder: state.json (the state, replaced atomically), for a hub
// one file a unit under units/ (its settings and device, so that a call on one unit reads and
// writes that unit's alone), records.jsonl (one JSON object per request, appended) and
// state.lock (flock'ed around every read-modify-write, so any number of tool processes and
// threads can share the device).

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QMap>
#include <QString>

namespace sim {

// $HOTSPOT_SIM_DIR, or an empty text when it is unset.
QString envStateDir();

inline constexpr const char* kStateFile = "state.json";
inline constexpr const char* kRecordsFile = "records.jsonl";
inline constexpr const char* kLockFile = "state.lock";
inline constexpr const char* kUnitsFolder = "units";

// Holds the folder's lock from construction to destruction. state() is the state as read
// (the built-in default device when the folder has none yet); commit() writes back what
// changed and appends the records queued with record(). Given a port, the state holds the
// hub's own part and that unit's only: the other units are listed without their settings
// and device, and nothing of theirs is written.
class Transaction {
public:
    explicit Transaction(const QString& dir, const QString& unitPort = QString());
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
    void read(const QString& unitPort);
    bool writeUnits(QJsonObject& hubPart);

    QString m_dir;
    int m_fd = -1;
    QJsonObject m_state;
    QJsonObject m_hubAsRead;                 // state.json as read
    QMap<QString, QJsonObject> m_unitsAsRead; // port → the unit's file as read, for the loaded units
    QJsonValue m_busAsRead; // the bus record as read, to tell when the sysfs tree must follow
    QString m_onlyPort;     // the one unit read, or empty for all
    QList<QJsonObject> m_records;
    bool m_truncate = false;
};

// All records of the folder, in the order they were made. Unreadable lines are skipped.
QList<QJsonObject> readRecords(const QString& dir);

} // namespace sim
