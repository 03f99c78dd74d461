#include "FastbootFunction.h"

#include "Composite.h"
#include "core/Records.h"

#include <QCryptographicHash>
#include <QJsonObject>

#include <cstdio>

namespace gadget {

namespace {
constexpr quint32 kMaxDownload = 64 * 1024 * 1024;
}

FastbootFunction::FastbootFunction(FfsFunction& function, const Model& model) : m_fn(function), m_model(model) {}

void FastbootFunction::serve()
{
    m_model.serveTransfers(m_fn, [this](const QByteArray& line) { command(line); });
}

bool FastbootFunction::reply(const QByteArray& text)
{
    return m_fn.write(text.constData(), size_t(text.size()));
}

QByteArray FastbootFunction::variable(const QByteArray& name) const
{
    if (name == "version")
        return "0.4";
    if (name == "product")
        return "MDM9615";
    if (name == "max-download-size")
        return "0x" + QByteArray::number(kMaxDownload, 16);
    if (name == "serialno")
        return m_model.with([](sim::Device& device, sim::Transaction&) {
            return device.settings().value(QLatin1String("fastboot_serial")).toString().toUtf8();
        });
    return {};
}

bool FastbootFunction::command(const QByteArray& line)
{
    std::fprintf(stderr, "[gadget] fastboot: %s\n", line.left(64).constData());
    const QString text = QString::fromUtf8(line);
    const QString verb = text.section(QLatin1Char(':'), 0, 0);
    const QString arg = text.section(QLatin1Char(':'), 1);
    m_model.with([&](sim::Device& device, sim::Transaction& tx) {
        Model::recordTool(tx, device, QStringLiteral("fastboot"), {text});
        return 0;
    });

    if (verb == QLatin1String("getvar")) {
        const QByteArray value = variable(arg.toUtf8());
        return reply(value.isEmpty() ? QByteArray("FAILunknown variable") : "OKAY" + value);
    }
    if (verb == QLatin1String("download")) {
        bool ok = false;
        const quint32 size = arg.toUInt(&ok, 16);
        if (!ok || size > kMaxDownload)
            return reply("FAILdata too large");
        if (!reply("DATA" + QByteArray::number(size, 16).rightJustified(8, '0')))
            return false;
        m_download.resize(int(size));
        if (!m_fn.readAll(m_download.data(), size))
            return false;
        return reply("OKAY");
    }
    if (verb == QLatin1String("flash")) {
        const QString md5 = QString::fromLatin1(QCryptographicHash::hash(m_download, QCryptographicHash::Md5).toHex());
        const bool written = m_model.with([&](sim::Device& device, sim::Transaction&) {
            return device.flash(arg, m_download.size(), md5);
        });
        return reply(written ? QByteArray("OKAY") : QByteArray("FAILflash write failure"));
    }
    if (verb == QLatin1String("reboot") || verb == QLatin1String("reboot-bootloader")) {
        const bool intoBootloader = verb == QLatin1String("reboot-bootloader") || arg == QLatin1String("bootloader");
        if (!reply("OKAY"))
            return false;
        m_model.with([&](sim::Device& device, sim::Transaction&) {
            device.restart(intoBootloader);
            return 0;
        });
        return true;
    }
    return reply("FAILunknown command");
}

} // namespace gadget
