#pragma once
// The record as the updater keeps it while it runs: each write goes to the local file at
// once and, when a server is set, the sender is told to pass it on. Used from one thread
// (the GUI thread); the sender has its own.

#include "bridge/AttemptHistory.h"
#include "bridge/HistoryPlace.h"
#include "bridge/HistorySender.h"

#include <memory>

class HistoryKeeper {
public:
    // Null, with the reason, when the local record cannot be used. A server that cannot be
    // reached is no reason: its rows wait in the local outbox. A damaged local record is set
    // aside as <file>.set-aside-<UTC time> and a new one started: the keeper comes back with
    // `why` saying so, once.
    static std::unique_ptr<HistoryKeeper> open(const HistoryPlace& place, QString* why);
    // This user's record, with the server --history-db names (`historyDb`, checked when the
    // command line was read) or else the configuration file. A configuration file that names
    // no server's address keeps the record local: the keeper comes back with `why` saying so.
    static std::unique_ptr<HistoryKeeper> openDefault(const QString& historyDb, QString* why);

    [[nodiscard]] bool write(const Attempt& attempt);
    AttemptHistory& local() { return *m_local; }
    // Null without a server.
    HistorySender* sender() { return m_sender.get(); }

private:
    HistoryKeeper(std::unique_ptr<AttemptHistory> local, std::unique_ptr<HistorySender> sender);

    std::unique_ptr<AttemptHistory> m_local;
    std::unique_ptr<HistorySender> m_sender;
};
