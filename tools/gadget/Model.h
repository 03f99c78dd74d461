#pragma once
// The emulated hotspot's functions act on the same device model as the simulated one: one
// state folder, changed under its lock.

#include "core/Device.h"
#include "core/StateStore.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <utility>

namespace gadget {

class FfsFunction;

class Model {
public:
    // The unit at `port` of a hub; the first unit for an empty text.
    Model(QString dir, QString port) : m_dir(std::move(dir)), m_port(std::move(port)) {}

    // Runs `fn(device, transaction)` under the lock and writes the state back.
    template <typename Fn>
    auto with(Fn&& fn) const
    {
        sim::Transaction tx(m_dir);
        struct Commit {
            sim::Transaction& tx;
            ~Commit() { tx.commit(); }
        } commit{tx};
        sim::Device device(tx.state(), m_port);
        device.settle(false);
        return fn(device, tx);
    }

    // Whether the device offers the function now (see gadget::offers).
    bool offers(const QString& function) const;

    // Reads the function's transfers for ever and hands each to `handle` while the device
    // offers the function; a transfer that fails (off the bus) waits for the host again.
    void serveTransfers(FfsFunction& function, const std::function<void(const QByteArray&)>& handle) const;

    // Records what the gadget served, as the simulator's tools and USB library record theirs.
    static void record(sim::Transaction& tx, QJsonObject record);
    static void recordTool(sim::Transaction& tx, const sim::Device& device, const QString& tool, const QStringList& args);

private:
    QString m_dir;
    QString m_port;
};

} // namespace gadget
