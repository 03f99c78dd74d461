#pragma once
// The CD-ROM interface (class 8/6/0x50, Bulk-Only Transport): answers what usb-storage and
// the CD-ROM driver ask at attach, serves a small blank disc, and hands the vendor switch
// commands to the device model, which judges them exactly as the simulated hotspot does.

#include "FunctionFs.h"
#include "Model.h"

#include <QByteArray>

namespace gadget {

class MassStorageFunction {
public:
    MassStorageFunction(FfsFunction& function, const Model& model);
    void serve(); // runs for ever

private:
    bool handle(const QByteArray& cbw);
    bool scsi(const QByteArray& cbw, QByteArray& dataIn, int& status);
    bool sendCsw(quint32 tag, quint32 residue, int status);

    FfsFunction& m_fn;
    const Model& m_model;
    // Sense of the last failed command: key, additional code.
    uint8_t m_senseKey = 0, m_asc = 0;
};

} // namespace gadget
