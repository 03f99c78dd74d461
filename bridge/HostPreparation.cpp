#include "bridge/HostPreparation.h"

#include "app/AppDelegate.h"
#include "bridge/Contract.h"
#include "bridge/OutputText.h"

#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace hostprep {

namespace {

constexpr std::size_t kPathBufferSize = 1024;
constexpr char kAndroidFolder[] = ".android";

QByteArray homeBytes(const std::optional<QString>& home) {
    return home ? QFile::encodeName(*home) : QByteArrayLiteral("/tmp");
}

} // namespace

QByteArray vendorListFolder(const std::optional<QString>& home) {
    char buffer[kPathBufferSize];
    std::snprintf(buffer, sizeof buffer, "%s/%s", homeBytes(home).constData(), kAndroidFolder);
    return QByteArray(buffer);
}

QByteArray vendorListPath(const std::optional<QString>& home) {
    char buffer[kPathBufferSize];
    std::snprintf(buffer, sizeof buffer, "%s/%s/%s", homeBytes(home).constData(), kAndroidFolder,
                  kVendorListName);
    return QByteArray(buffer);
}

} // namespace hostprep

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

enum class ListState { HasEntry, LacksEntry, Invalid };

struct ListScan {
    ListState state;
    bool endsMidLine; // the last piece read had no line end
};

// Reads the list from its start, 1027 characters at a time; each piece is judged as a line.
ListScan scanVendorList(std::FILE* file) {
    char piece[1028];
    bool midLine = false;
    std::rewind(file);
    while (std::fgets(piece, sizeof piece, file)) {
        const std::size_t length = std::strlen(piece);
        midLine = length == 0 || piece[length - 1] != '\n';
        if (piece[0] == '#')
            continue;
        char* end = nullptr;
        const long value = std::strtol(piece, &end, 0);
        if (end == piece || value < 0 || value > 0x7FFFFFFF)
            return {ListState::Invalid, midLine};
        if (value == hostprep::kAdbVendorId)
            return {ListState::HasEntry, midLine};
    }
    return {ListState::LacksEntry, midLine};
}

// Success of an adb or service-manager run: output present and without "error".
bool succeeded(const ToolResult& result) {
    return result && !output::reportsError(result);
}

} // namespace

int32_t AppDelegate::prepareAdb() {
    const QByteArray path = hostprep::vendorListPath(m_env.home);
    if (::access(path.constData(), F_OK) != 0) {
        const QByteArray folder = hostprep::vendorListFolder(m_env.home);
        if (::access(folder.constData(), F_OK) != 0 && ::mkdir(folder.constData(), 0750) != 0)
            return -1;
    }

    File file(std::fopen(path.constData(), "a+"));
    if (!file)
        return -1;
    const ListScan scan = scanVendorList(file.get());
    if (scan.state == ListState::Invalid) {
        file.reset();
        std::fprintf(stderr, "Invalid content in %s. Quitting.\n", hostprep::kVendorListName);
        m_env.exitProgram(2);
        return -1;
    }
    if (scan.state == ListState::LacksEntry) {
        std::fseek(file.get(), 0, SEEK_END);
        // Never glue the entry onto a last line that has no line end.
        if (scan.endsMidLine)
            std::fputc('\n', file.get());
        std::fprintf(file.get(), "0x%x\n", hostprep::kAdbVendorId);
    }
    file.reset();

    ToolResult result;
    adbCommand(contract::adbKillServer(), &result);
    if (!succeeded(result))
        return -1;
    adbCommand(contract::adbStartServer(), &result);
    return succeeded(result) ? 0 : -1;
}

bool AppDelegate::isDriverInstalled() {
    const auto isRegularFile = [](const QString& path) {
        struct stat status {};
        return ::stat(QFile::encodeName(path).constData(), &status) == 0 && S_ISREG(status.st_mode);
    };
    // A listed path is the rule itself, or a rules folder that should hold it.
    for (const QString& path : m_env.driverPaths) {
        if (isRegularFile(path) || isRegularFile(path + u'/' + contract::kDriverRuleName))
            return true;
    }
    return false;
}

QString AppDelegate::accessFixCommand() const {
    // The rule is in place (the start-up check found it); udev applies it to devices that
    // are plugged in only after a reload and a new "add" event.
    // One command per line; the shell takes the line break after "&&" as a continuation.
    return QStringLiteral("sudo udevadm control --reload-rules &&\n"
                          "sudo udevadm trigger --subsystem-match=usb --action=add");
}

bool AppDelegate::killDeviceAgent() {
    ToolResult result;
    shellCommand(contract::kLaunchctlRemoveAgent, &result);
    if (!succeeded(result))
        return false;
    shellCommand(contract::kLaunchctlUnloadSwitch, &result);
    return succeeded(result);
}

bool AppDelegate::recoverDeviceAgent() {
    ToolResult result;
    shellCommand(contract::kLaunchctlLoadSwitch, &result);
    return succeeded(result);
}

bool AppDelegate::isDeviceAgentAlive() {
    ToolResult result;
    shellCommand(contract::kLaunchctlList, &result);
    return output::mentions(result, contract::kDeviceAgent);
}
