#pragma once
// The emulated hotspot's functions act on the same device model as the simulated one: one
// state folder, changed under its lock.

#include "core/Device.h"
#include "core/StateStore.h"

#include <QString>
#include <utility>

namespace gadget {

class Model {
public:
    explicit Model(QString dir) : m_dir(std::move(dir)) {}
    const QString& dir() const { return m_dir; }

    // Runs `fn(device, transaction)` under the lock and writes the state back.
    template <typename Fn>
    auto with(Fn&& fn) const
    {
        sim::Transaction tx(m_dir);
        struct Commit {
            sim::Transaction& tx;
            ~Commit() { tx.commit(); }
        } commit{tx};
        sim::Device device(tx.state());
        device.settle(false);
        return fn(device, tx);
    }

    // Whether the device offers the function now (see gadget::offers).
    bool offers(const QString& function) const;

private:
    QString m_dir;
};

} // namespace gadget
