#pragma once
// The host around the device: adb's per-user vendor list and server, the device-access rule,
// and the service-manager agents that would fight us for the device.

#include "bridge/ToolRunner.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>

namespace hostprep {

constexpr int kAdbVendorId = 0x11F6;
inline constexpr char kVendorListName[] = "adb_usb.ini";
// The program's exit status when the list cannot be used (invalid content, a link in the way).
constexpr int kRefusedListStatus = 2;

// "<home>/.android" (a path longer than a 1024-byte buffer holds is refused, never cut), home being the shared `tmp` folder when unset; nullopt when too long.
std::optional<QByteArray> vendorListFolder(const std::optional<QString>& home, const QString& tmp);

enum class ListState { HasEntry, LacksEntry, Invalid };

struct ListScan {
    ListState state;
    bool endsMidLine; // the last piece read had no line end
};

// Reads the list from its start, 1027 characters at a time; each piece is judged as a line.
ListScan scanVendorList(std::FILE* file);

} // namespace hostprep

// Where the host keeps what host preparation reads and writes.
struct HostFolders {
    std::optional<QString> home; // HOME, or nullopt when unset
    QString tmp;                 // the shared temporary folder
    // Paths whose presence as a regular file means the device-access rule is installed.
    QStringList driverPaths;
};

class HostPreparation {
public:
    // `exitProgram` ends the program at once with a status (a vendor list we must not use);
    // it must not return. The tools must outlive this.
    HostPreparation(const Tools& tools, HostFolders folders, std::function<void(int)> exitProgram);

    // Puts our vendor id into adb's list and restarts its server: 0, or -1 on failure.
    int32_t prepareAdb();
    bool isDriverInstalled() const;
    bool killDeviceAgent();
    bool recoverDeviceAgent();
    bool isDeviceAgentAlive();
    // The command that puts the device-access rule in effect for the logged-in user.
    static QString accessFixCommand();

private:
    const Tools& m_tools;
    HostFolders m_folders;
    std::function<void(int)> m_exitProgram;
};
