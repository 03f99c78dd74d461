#pragma once
// The adb interface (0xFF/0x42/0x01): the device side of the adb protocol, enough for the
// host's adb: the connection handshake, "shell:" commands answered by the device model's
// shell, and the sync service for pull and push.

#include "FunctionFs.h"
#include "Model.h"

#include <QByteArray>
#include <QString>
#include <map>

namespace gadget {

class AdbFunction {
public:
    AdbFunction(FfsFunction& function, const Model& model);
    void serve(); // runs for ever

private:
    struct Packet {
        quint32 command = 0, arg0 = 0, arg1 = 0;
        QByteArray data;
    };
    struct Stream {
        quint32 remote = 0;
        bool sync = false;
        QByteArray input;   // sync requests not yet complete
        QByteArray pending; // output not yet sent
        bool awaitingOkay = false;
        bool closeWhenSent = false;
        // A push in progress: destination and bytes so far.
        QString pushPath;
        QByteArray pushData;
        bool pushing = false;
    };

    bool receive(Packet& p);
    bool send(quint32 command, quint32 arg0, quint32 arg1, const QByteArray& data = {});
    bool dispatch(const Packet& p);
    bool open(quint32 remote, const QByteArray& service);
    bool flush(quint32 local);
    void syncInput(Stream& s);
    QByteArray runShell(const QString& line);

    FfsFunction& m_fn;
    const Model& m_model;
    std::map<quint32, Stream> m_streams;
    quint32 m_nextId = 1;
    quint32 m_maxData = 4096;
};

} // namespace gadget
