#pragma once
// The boot loader's fastboot interface (0xFF/0x42/0x03): the device side of the fastboot
// protocol for devices, getvar, download and flash, reboot and reboot-bootloader. Written
// images go to the device model, which keeps their size and MD5.

#include "FunctionFs.h"
#include "Model.h"

#include <QByteArray>

namespace gadget {

class FastbootFunction {
public:
    FastbootFunction(FfsFunction& function, const Model& model);
    void serve(); // runs for ever

private:
    bool command(const QByteArray& line);
    bool reply(const QByteArray& text);
    QByteArray variable(const QByteArray& name) const;

    FfsFunction& m_fn;
    const Model& m_model;
    QByteArray m_download;
};

} // namespace gadget
