#include "AdbFunction.h"

#include "Composite.h"
#include "core/Records.h"
#include "core/Shell.h"

#include <QJsonObject>
#include <QtEndian>

#include <cstdio>
#include <unistd.h>

namespace gadget {

namespace {

constexpr quint32 kCnxn = 0x4e584e43;
constexpr quint32 kOpen = 0x4e45504f;
constexpr quint32 kOkay = 0x59414b4f;
constexpr quint32 kClse = 0x45534c43;
constexpr quint32 kWrte = 0x45545257;
constexpr quint32 kAuth = 0x48545541;
constexpr quint32 kVersion = 0x01000000;
constexpr int kHeader = 24;

quint32 id(const char* four)
{
    return qFromLittleEndian<quint32>(four);
}

QByteArray syncReply(const char* four, const QByteArray& payload)
{
    QByteArray r(four, 4);
    char length[4];
    qToLittleEndian<quint32>(quint32(payload.size()), length);
    return r + QByteArray(length, 4) + payload;
}

QByteArray syncStat(quint32 mode, quint32 size)
{
    QByteArray r("STAT", 4);
    char word[4];
    for (quint32 v : {mode, size, quint32(0)}) {
        qToLittleEndian<quint32>(v, word);
        r.append(word, 4);
    }
    return r;
}

} // namespace

AdbFunction::AdbFunction(FfsFunction& function, const Model& model) : m_fn(function), m_model(model) {}

void AdbFunction::serve()
{
    unsigned session = 0;
    for (;;) {
        Packet p;
        if (!receive(p)) {
            ::usleep(20000);
            continue;
        }
        if (m_fn.sessions() != session) {
            // A new enumeration: whatever the host had open is gone.
            session = m_fn.sessions();
            m_streams.clear();
        }
        if (m_model.offers(kAdb))
            dispatch(p);
    }
}

bool AdbFunction::receive(Packet& p)
{
    uchar header[512];
    const ssize_t n = m_fn.read(header, sizeof header);
    if (n != kHeader)
        return false;
    p.command = qFromLittleEndian<quint32>(header);
    p.arg0 = qFromLittleEndian<quint32>(header + 4);
    p.arg1 = qFromLittleEndian<quint32>(header + 8);
    const quint32 length = qFromLittleEndian<quint32>(header + 12);
    const quint32 magic = qFromLittleEndian<quint32>(header + 20);
    if (magic != (p.command ^ 0xFFFFFFFF) || length > 1024 * 1024)
        return false;
    p.data.resize(int(length));
    return length == 0 || m_fn.readAll(p.data.data(), length);
}

bool AdbFunction::send(quint32 command, quint32 arg0, quint32 arg1, const QByteArray& data)
{
    uchar header[kHeader];
    quint32 sum = 0;
    for (char c : data)
        sum += uchar(c);
    const quint32 words[6] = {command, arg0, arg1, quint32(data.size()), sum, command ^ 0xFFFFFFFF};
    for (int i = 0; i < 6; ++i)
        qToLittleEndian<quint32>(words[i], header + 4 * i);
    if (!m_fn.write(header, kHeader))
        return false;
    return data.isEmpty() || m_fn.write(data.constData(), size_t(data.size()));
}

bool AdbFunction::dispatch(const Packet& p)
{
    switch (p.command) {
    case kCnxn: {
        m_streams.clear();
        m_maxData = qBound<quint32>(1024, p.arg1, 256 * 1024);
        std::fprintf(stderr, "[gadget] adb: host connected (%s)\n", p.data.left(40).constData());
        return send(kCnxn, kVersion, m_maxData,
                    "device::ro.product.name=hotspot;ro.product.model=MDM9615;ro.product.device=hotspot;");
    }
    case kAuth:
        return true; // this device asks for no key
    case kOpen:
        return open(p.arg0, p.data);
    case kOkay: {
        auto it = m_streams.find(p.arg1);
        if (it == m_streams.end())
            return true;
        it->second.awaitingOkay = false;
        return flush(p.arg1);
    }
    case kWrte: {
        auto it = m_streams.find(p.arg1);
        if (it == m_streams.end())
            return send(kClse, 0, p.arg0);
        Stream& s = it->second;
        if (!send(kOkay, p.arg1, s.remote))
            return false;
        if (s.sync) {
            s.input.append(p.data);
            syncInput(s);
        }
        return flush(p.arg1);
    }
    case kClse: {
        auto it = m_streams.find(p.arg1);
        if (it != m_streams.end()) {
            const quint32 remote = it->second.remote;
            m_streams.erase(it);
            return send(kClse, p.arg1, remote);
        }
        return true;
    }
    default:
        return true;
    }
}

bool AdbFunction::open(quint32 remote, const QByteArray& service)
{
    QByteArray name = service;
    if (name.endsWith('\0'))
        name.chop(1);
    const quint32 local = m_nextId++;
    Stream s;
    s.remote = remote;
    if (name.startsWith("shell:")) {
        s.pending = runShell(QString::fromUtf8(name.mid(6)));
        s.closeWhenSent = true;
    } else if (name == "sync:") {
        s.sync = true;
    } else {
        std::fprintf(stderr, "[gadget] adb: service %s refused\n", name.constData());
        return send(kClse, 0, remote);
    }
    m_streams[local] = s;
    if (!send(kOkay, local, remote))
        return false;
    return flush(local);
}

bool AdbFunction::flush(quint32 local)
{
    auto it = m_streams.find(local);
    if (it == m_streams.end())
        return true;
    Stream& s = it->second;
    if (s.awaitingOkay)
        return true;
    if (!s.pending.isEmpty()) {
        const QByteArray chunk = s.pending.left(int(m_maxData));
        s.pending.remove(0, chunk.size());
        s.awaitingOkay = true;
        return send(kWrte, local, s.remote, chunk);
    }
    if (s.closeWhenSent) {
        const quint32 remote = s.remote;
        m_streams.erase(it);
        return send(kClse, local, remote);
    }
    return true;
}

QByteArray AdbFunction::runShell(const QString& line)
{
    return m_model.with([&](sim::Device& device, sim::Transaction& tx) {
        Model::recordTool(tx, device, QStringLiteral("adb"), {QStringLiteral("shell"), line});
        QByteArray out;
        sim::deviceShell(device, line, out);
        return out;
    });
}

// Sync requests: a four-letter id, a little-endian length and that many bytes; a push sends
// DATA chunks after SEND and ends with DONE.
void AdbFunction::syncInput(Stream& s)
{
    while (s.input.size() >= 8) {
        const quint32 what = qFromLittleEndian<quint32>(s.input.constData());
        const quint32 length = qFromLittleEndian<quint32>(s.input.constData() + 4);
        const bool done = what == id("DONE"); // its "length" is the file's time
        const qsizetype need = 8 + (done || what == id("QUIT") ? 0 : qsizetype(length));
        if (s.input.size() < need)
            return;
        const QByteArray arg = s.input.mid(8, int(need - 8));
        s.input.remove(0, int(need));

        if (what == id("STAT")) {
            const QString path = QString::fromUtf8(arg);
            s.pending += m_model.with([&](sim::Device& device, sim::Transaction&) {
                return device.hasFile(path) ? syncStat(0100644, quint32(device.file(path).size())) : syncStat(0, 0);
            });
        } else if (what == id("RECV")) {
            const QString path = QString::fromUtf8(arg);
            s.pending += m_model.with([&](sim::Device& device, sim::Transaction& tx) {
                Model::recordTool(tx, device, QStringLiteral("adb"), {QStringLiteral("pull"), path});
                if (!device.hasFile(path) || device.faultHits(QStringLiteral("pull_error"), path))
                    return syncReply("FAIL", "No such file or directory");
                QByteArray out;
                const QByteArray content = device.file(path);
                for (qsizetype at = 0; at < content.size(); at += 64 * 1024)
                    out += syncReply("DATA", content.mid(at, 64 * 1024));
                return out + syncReply("DONE", {});
            });
        } else if (what == id("SEND")) {
            const int comma = arg.lastIndexOf(',');
            s.pushPath = QString::fromUtf8(comma >= 0 ? arg.left(comma) : arg);
            s.pushData.clear();
            s.pushing = true;
        } else if (what == id("DATA") && s.pushing) {
            s.pushData += arg;
        } else if (done && s.pushing) {
            s.pushing = false;
            s.pending += m_model.with([&](sim::Device& device, sim::Transaction& tx) {
                Model::recordTool(tx, device, QStringLiteral("adb"), {QStringLiteral("push"), s.pushPath});
                if (device.faultHits(QStringLiteral("push_error"), s.pushPath))
                    return syncReply("FAIL", "couldn't create file: Read-only file system");
                device.setFile(s.pushPath, s.pushData);
                return syncReply("OKAY", {});
            });
        } else if (what == id("QUIT")) {
            s.closeWhenSent = true;
        } else {
            s.pending += syncReply("FAIL", "unsupported request");
        }
    }
}

} // namespace gadget
