#include "Model.h"

#include "Composite.h"
#include "FunctionFs.h"
#include "core/Records.h"

#include <unistd.h>

namespace gadget {

bool Model::offers(const QString& function) const
{
    return with([&](sim::Device& device, sim::Transaction&) { return gadget::offers(device, function); });
}

void Model::serveTransfers(FfsFunction& function, const std::function<void(const QByteArray&)>& handle) const
{
    const QString instance = QString::fromStdString(function.instance());
    QByteArray buffer(512, '\0');
    for (;;) {
        const ssize_t n = function.read(buffer.data(), size_t(buffer.size()));
        if (n < 0) {
            ::usleep(20000); // gone from the bus; the next read waits for the host
            continue;
        }
        if (offers(instance))
            handle(buffer.left(int(n)));
    }
}

void Model::record(sim::Transaction& tx, QJsonObject record)
{
    record.insert(QStringLiteral("transport"), QStringLiteral("gadget"));
    tx.record(record);
}

void Model::recordTool(sim::Transaction& tx, const sim::Device& device, const QString& tool, const QStringList& args)
{
    record(tx, sim::toolRecord(tool, args, device.personality()));
}

} // namespace gadget
