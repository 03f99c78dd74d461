// A station of four units on one simulated hub, updated by one terminal run with --yes: one
// unit's write fails, one loses its cable in the middle of an image, the other two are updated
// with their own data back, and nothing the updater ran or sent reached another unit's port.

#include "tests/update/RunnerFixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

const QString kGood1 = QStringLiteral("1-2.1");
const QString kWriteFails = QStringLiteral("1-2.2");
const QString kPulled = QStringLiteral("1-2.3");
const QString kGood2 = QStringLiteral("1-2.4");

// Each unit's own calibration and settings.
QJsonObject ownData(const QString& port) {
    return {{kWifi, QStringLiteral("calibration of ") + port},
            {QStringLiteral("/etc/config.db"), QStringLiteral("ssid=") + port + u'\n'}};
}

QJsonObject unit(const QString& port, const QJsonObject& faults = {}) {
    return {{"port", port}, {"files", ownData(port)}, {"faults", faults}};
}

class Station : public RunnerFixture {};

TEST_F(Station, OneUnitFailingOrPulledEndsItsOwnRowOnly) {
    const QJsonArray units{unit(kGood1), unit(kWriteFails, {{"flash_fail", "boot"}}),
                           unit(kPulled, {{"pulled_during_flash", QJsonArray{"modem"}}}), unit(kGood2)};
    loadScenario(QString::fromUtf8(
        QJsonDocument(QJsonObject{{"base", "usr-cdrom"}, {"units", units}}).toJson(QJsonDocument::Compact)));
    writeFourImages();

    EXPECT_EQ(runUpdater(nullptr, {QStringLiteral("--station"), sim->sysfsRoot()}), 14) << m_output.toStdString();

    for (const QString& port : {kGood1, kGood2}) {
        SCOPED_TRACE(port.toStdString());
        EXPECT_TRUE(imagesWritten(port));
        EXPECT_EQ(sim->deviceFile(kWifi, port), ownData(port).value(kWifi).toString().toUtf8());
        EXPECT_EQ(sim->deviceFile(kConfigRestored, port), ownData(port).value("/etc/config.db").toString().toUtf8());
        EXPECT_TRUE(m_output.contains((port + QStringLiteral("  updated to 1.0.4")).toUtf8())) << m_output.toStdString();
    }
    EXPECT_FALSE(imagesWritten(kWriteFails));
    EXPECT_FALSE(imagesWritten(kPulled));
    EXPECT_TRUE(m_output.contains((kWriteFails + QStringLiteral("  failed: ")).toUtf8()));
    EXPECT_TRUE(m_output.contains((kPulled + QStringLiteral("  failed: ")).toUtf8()));
    // The pulled unit's update may have written it: its journal stays for a finish.
    EXPECT_GE(countOpenJournals(), 1);

    // Every run that went to a unit named it by its port, and reached that unit only.
    int addressed = 0;
    for (const SimRecord& record : sim->records()) {
        if (record.event != QLatin1String("run") || record.port.isEmpty())
            continue;
        ++addressed;
        EXPECT_EQ(record.args.mid(0, 2), (QStringList{QStringLiteral("-s"), QStringLiteral("usb:") + record.port}))
            << record.args.join(u' ').toStdString();
    }
    EXPECT_GT(addressed, 40);
    // The same switches reached each unit updated: none took another's command block.
    EXPECT_EQ(sim->cbws(kGood1).size(), sim->cbws(kGood2).size());
    EXPECT_GT(sim->cbws(kGood1).size(), 0);
}

} // namespace
