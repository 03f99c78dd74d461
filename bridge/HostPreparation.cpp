#include "bridge/HostPreparation.h"

#include "bridge/Contract.h"
#include "bridge/OutputText.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hostprep {

namespace {

constexpr std::size_t kPathBufferSize = 1024;
constexpr char kAndroidFolder[] = ".android";

} // namespace

std::optional<QByteArray> vendorListFolder(const std::optional<QString>& home, const QString& tmp) {
    char buffer[kPathBufferSize];
    const int length = std::snprintf(buffer, sizeof buffer, "%s/%s", QFile::encodeName(home.value_or(tmp)).constData(),
                                     kAndroidFolder);
    // Room for the list's name too: a cut path would name another file.
    if (length < 0 || std::size_t(length) + 1 + std::strlen(kVendorListName) >= sizeof buffer)
        return std::nullopt;
    return QByteArray(buffer, length);
}

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

} // namespace hostprep

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The list in `folder`, created when missing, for reading and appending. With `noLinks`
// neither the folder nor the list may be a link; `linked` says one was.
File openVendorList(const QByteArray& folder, bool noLinks, bool& linked) {
    const int noFollow = noLinks ? O_NOFOLLOW : 0;
    const int dir = ::open(folder.constData(), O_DIRECTORY | O_CLOEXEC | noFollow);
    const int fd = dir < 0 ? -1
                           : ::openat(dir, hostprep::kVendorListName, O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | noFollow,
                                      0666);
    const int openError = errno;
    if (dir >= 0)
        ::close(dir);
    if (fd < 0) {
        struct stat status {};
        linked = noLinks && (openError == ELOOP ||
                             (::lstat(folder.constData(), &status) == 0 && S_ISLNK(status.st_mode)));
        return nullptr;
    }
    File file(::fdopen(fd, "a+"));
    if (!file)
        ::close(fd);
    return file;
}

// Success of an adb or service-manager run: output present and without "error".
bool succeeded(const ToolResult& result) {
    return result && !output::reportsError(result);
}

} // namespace

HostPreparation::HostPreparation(const Tools& tools, HostFolders folders, std::function<void(int)> exitProgram)
    : m_tools(tools), m_folders(std::move(folders)), m_exitProgram(std::move(exitProgram)) {}

int32_t HostPreparation::prepareAdb() {
    const std::optional<QByteArray> folder = hostprep::vendorListFolder(m_folders.home, m_folders.tmp);
    if (!folder) {
        std::fprintf(stderr, "hotspot-updater: the path of %s is too long\n", hostprep::kVendorListName);
        return -1;
    }
    if (::mkdir(folder->constData(), 0750) != 0 && errno != EEXIST)
        return -1;
    // Without HOME the list lives in the shared temporary folder, where anyone may have put a
    // link: neither the folder nor the list is followed there.
    bool linked = false;
    File file = openVendorList(*folder, !m_folders.home, linked);
    if (linked) {
        std::fprintf(stderr, "A link in the way of %s/%s. Quitting.\n", folder->constData(), hostprep::kVendorListName);
        m_exitProgram(hostprep::kRefusedListStatus);
        return -1;
    }
    if (!file)
        return -1;
    const hostprep::ListScan scan = hostprep::scanVendorList(file.get());
    if (scan.state == hostprep::ListState::Invalid) {
        file.reset();
        std::fprintf(stderr, "Invalid content in %s. Quitting.\n", hostprep::kVendorListName);
        m_exitProgram(hostprep::kRefusedListStatus);
        return -1;
    }
    if (scan.state == hostprep::ListState::LacksEntry) {
        std::fseek(file.get(), 0, SEEK_END);
        // Never glue the entry onto a last line that has no line end.
        if (scan.endsMidLine)
            std::fputc('\n', file.get());
        std::fprintf(file.get(), "0x%x\n", hostprep::kAdbVendorId);
    }
    file.reset();

    if (!succeeded(m_tools.adb(contract::adbKillServer()).text))
        return -1;
    return succeeded(m_tools.adb(contract::adbStartServer()).text) ? 0 : -1;
}

bool HostPreparation::isDriverInstalled() const {
    const auto isRegularFile = [](const QString& path) {
        struct stat status {};
        return ::stat(QFile::encodeName(path).constData(), &status) == 0 && S_ISREG(status.st_mode);
    };
    // A listed path is the rule itself, or a rules folder that should hold it.
    for (const QString& path : m_folders.driverPaths) {
        if (isRegularFile(path) || isRegularFile(path + u'/' + contract::kDriverRuleName))
            return true;
    }
    return false;
}

QString HostPreparation::accessFixCommand() {
    // The rule is in place (the start-up check found it); udev applies it to devices that
    // are plugged in only after a reload and a new "add" event.
    // One command per line; the shell takes the line break after "&&" as a continuation.
    return QStringLiteral("sudo udevadm control --reload-rules &&\n"
                          "sudo udevadm trigger --subsystem-match=usb --action=add");
}

bool HostPreparation::killDeviceAgent() {
    if (!succeeded(m_tools.shell(contract::kLaunchctlRemoveAgent).text))
        return false;
    return succeeded(m_tools.shell(contract::kLaunchctlUnloadSwitch).text);
}

bool HostPreparation::recoverDeviceAgent() {
    return succeeded(m_tools.shell(contract::kLaunchctlLoadSwitch).text);
}

bool HostPreparation::isDeviceAgentAlive() {
    return output::mentions(m_tools.shell(contract::kLaunchctlList).text, contract::kDeviceAgent);
}
