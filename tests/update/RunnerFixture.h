#pragma once
// The updater's terminal run as a process of its own (update_kill_runner) on the simulated
// hotspot, with a home that outlives it, and what a run left behind: journals, copies, images.

#include "tests/workflow/SimFixture.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <gtest/gtest.h>

namespace testing_support {

inline const QString kWifi = QStringLiteral("/lib/firmware/ath6k/AR6003/hw2.1.1/bdata.SD31.bin");
inline const QString kConfigRestored = QStringLiteral("/etc/new_config.db");
inline const char* const kPartitions[] = {"aboot", "boot", "modem", "system"};

class RunnerFixture : public SimFixture {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        ASSERT_TRUE(m_home.isValid());
    }

    // The package the device gets: its images, and the version line.
    void writeFourImages() {
        std::vector<ImageFile> images;
        int size = 1024;
        for (const char* partition : kPartitions) {
            const QByteArray name(partition);
            images.push_back({name, name + ".img", QByteArray(size, name.at(0))});
            m_md5 << QString::fromLatin1(QCryptographicHash::hash(images.back().content, QCryptographicHash::Md5).toHex());
            size *= 2;
        }
        writePackage("HS_FW_1.0.4", images);
    }

    // One run of the updater; its exit status, or -1 when it did not exit by itself.
    int runUpdater(QString* end = nullptr, const QStringList& more = {}) {
        QProcess run;
        run.setProgram(QStringLiteral(HOTSPOT_KILL_RUNNER));
        run.setArguments(QStringList{bundle.path(), m_home.path()} + more);
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start();
        const bool finished = run.waitForFinished(120000);
        m_output += run.readAll();
        if (!finished) {
            run.kill();
            run.waitForFinished();
        }
        const bool exited = finished && run.exitStatus() == QProcess::NormalExit;
        if (end)
            *end = !finished ? QStringLiteral("still running") : exited ? QStringLiteral("exit %1").arg(run.exitCode())
                                                                        : QStringLiteral("killed");
        return exited ? run.exitCode() : -1;
    }

    int countOpenJournals() const {
        return int(QDir(m_home.path() + QStringLiteral("/.local/state/hotspot-updater/journals"))
                       .entryList({QStringLiteral("*.json")}, QDir::Files)
                       .size());
    }

    // Copies in the store whose entry does not say they are back on the device; what a finish
    // found on a unit is counted apart (`found`).
    int countUnconfirmedCopies(int* found = nullptr) const {
        int count = 0;
        const QDir store(m_home.path() + QStringLiteral("/.local/share/hotspot-updater/backups/0123456789ABCDEF"));
        for (const QString& name : store.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile manifest(store.filePath(name) + QStringLiteral("/manifest.json"));
            if (!manifest.open(QIODevice::ReadOnly)) {
                ++count; // an entry nobody can tell about
                continue;
            }
            const QJsonObject json = QJsonDocument::fromJson(manifest.readAll()).object();
            int& counted = json.value("found").toBool() && found ? *found : count;
            for (const QJsonValue& f : json.value("files").toArray())
                counted += f.toObject().value("restored").toBool() ? 0 : 1;
        }
        return count;
    }

    // `port`: a hub's unit; empty: the first.
    bool imagesWritten(const QString& port = QString()) const {
        const QJsonObject parts = sim->partitions(port);
        for (int i = 0; i < 4; ++i)
            if (parts.value(QString::fromLatin1(kPartitions[i])).toObject().value("md5").toString() != m_md5[i])
                return false;
        return sim->firmwareVersion(port) == QLatin1String("1.0.4");
    }

    QTemporaryDir m_home;
    QStringList m_md5;
    QByteArray m_output;
};

} // namespace testing_support
