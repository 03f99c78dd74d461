#include "AppTestSupport.h"
#include "app/ProgressBarView.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <fcntl.h>
#include <unistd.h>

using Lifecycle = AppFixture;

namespace {

int indexOf(const QStringList& lines, const QString& prefix) {
    for (int i = 0; i < lines.size(); ++i)
        if (lines[i].startsWith(prefix))
            return i;
    return -1;
}

// Sends our stdout into `path` while alive, so the USB trace lands in the order it happens.
class StdoutInto {
public:
    explicit StdoutInto(const QString& path) {
        std::fflush(stdout);
        m_saved = ::dup(STDOUT_FILENO);
        const int fd = ::open(path.toLocal8Bit().constData(), O_WRONLY | O_APPEND | O_CREAT, 0644);
        ::dup2(fd, STDOUT_FILENO);
        ::close(fd);
    }
    ~StdoutInto() {
        std::fflush(stdout);
        ::dup2(m_saved, STDOUT_FILENO);
        ::close(m_saved);
    }

private:
    int m_saved = -1;
};

} // namespace

TEST_F(Lifecycle, LaunchLeavesTheInitialScreen) {
    useShippedResources();
    m_window->show();
    m_app->applicationDidFinishLaunching();

    EXPECT_EQ(m_face->statusLabel()->text(), messages::lookup("stat Initializing ..."));
    EXPECT_TRUE(m_face->progressBar()->isIndeterminate());
    EXPECT_TRUE(m_face->progressBar()->isAnimating());
    EXPECT_EQ(m_face->percentLabel()->text(), "0 %");
    EXPECT_FALSE(m_face->warningLabel()->isVisible());
    EXPECT_FALSE(m_face->warningImage()->isVisible());
    EXPECT_FALSE(m_face->updateButton()->isEnabled());
    EXPECT_EQ(m_face->updateButton()->text(), messages::lookup("btn Initializing"));
    EXPECT_TRUE(m_app->session().detectionRecorded());
    EXPECT_TRUE(m_window->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(m_window->isVisible());
}

TEST_F(Lifecycle, InitializationStartsOnlyInStateZero) {
    for (SessionState s : {SessionState::Searching, SessionState::Offered, SessionState::Updating, SessionState::Finished}) {
        m_app->session().setState(s);
        EXPECT_EQ(m_app->workflow().startInitialize(), -1);
        EXPECT_EQ(m_app->session().liveWorkers(), 0);
    }
}

TEST_F(Lifecycle, StopWithoutAWorkerReturnsAtOnce) {
    m_app->workflow().stopDetect();
    EXPECT_TRUE(m_clock->guiSleeps().empty());
    EXPECT_FALSE(m_app->session().detectionStopRequested());
}

TEST_F(Lifecycle, DetectionStartsOnceAndRestartsAfterStop) {
    EXPECT_EQ(m_app->workflow().startDetect(), 0);
    EXPECT_TRUE(m_app->session().detectionRecorded());
    EXPECT_FALSE(m_app->session().detectionStopRequested());
    EXPECT_EQ(m_app->workflow().startDetect(), 0);
    EXPECT_LE(m_app->session().liveWorkers(), 1);

    m_app->workflow().stopDetect();
    EXPECT_FALSE(m_app->session().detectionRecorded());
    EXPECT_TRUE(m_app->session().detectionStopRequested());
    EXPECT_TRUE(m_app->session().detectionShouldStop());
    EXPECT_EQ(m_clock->guiSleeps(), std::vector<double>{1.0});

    // A restart right away clears the flag for the new worker, yet the old one, possibly
    // still inside a pass, must still end: at most the new worker stays.
    EXPECT_EQ(m_app->workflow().startDetect(), 0);
    EXPECT_TRUE(m_app->session().detectionRecorded());
    EXPECT_FALSE(m_app->session().detectionStopRequested());
    EXPECT_TRUE(pumpUntil([this] { return m_app->session().liveWorkers() <= 1; }));
    // Off a detection worker the answer is the flag itself.
    EXPECT_FALSE(m_app->session().detectionShouldStop());
}

TEST_F(Lifecycle, TerminationRunsItsStepsInOrder) {
    installFakeAdb();
    m_clock->traceTo(tracePath());
    m_app->workflow().startDetect();
    {
        StdoutInto redirect(tracePath());
        m_app->applicationWillTerminate();
    }
    EXPECT_FALSE(m_app->session().detectionRecorded());
    EXPECT_TRUE(m_app->session().detectionStopRequested());

    const QStringList lines = traceLines();
    const int killServer = indexOf(lines, QStringLiteral("adb kill-server"));
    const int usb = indexOf(lines, QStringLiteral("[usbutils]"));
    const int stop = indexOf(lines, QStringLiteral("sleep 1"));
    const int agent = indexOf(lines, QStringLiteral("launchctl load /Library/LaunchAgents/cn.quillmarsh.Portflip.plist"));
    ASSERT_GE(killServer, 0) << qPrintable(lines.join('\n'));
    ASSERT_GE(usb, 0) << qPrintable(lines.join('\n'));
    ASSERT_GE(stop, 0) << qPrintable(lines.join('\n'));
    ASSERT_GE(agent, 0) << qPrintable(lines.join('\n'));
    EXPECT_LT(killServer, usb);
    EXPECT_LT(usb, stop);
    EXPECT_LT(stop, agent);
}

TEST_F(Lifecycle, TerminationGoesOnWithoutAdb) {
    m_clock->traceTo(tracePath());
    m_app->workflow().startDetect();
    m_app->applicationWillTerminate();
    const QStringList lines = traceLines();
    EXPECT_EQ(indexOf(lines, QStringLiteral("adb")), -1);
    EXPECT_GE(indexOf(lines, QStringLiteral("sleep 1")), 0);
    EXPECT_GE(indexOf(lines, QStringLiteral("launchctl load")), 0) << qPrintable(lines.join('\n'));
}

TEST_F(Lifecycle, ButtonDoesNothingWhileInitialisingOrSearching) {
    // 7 is no state: a session never holds it, and the button ignores it too.
    for (SessionState s : {SessionState::Checking, SessionState::Searching, static_cast<SessionState>(7)}) {
        m_app->session().setState(s);
        m_app->session().showStatus(QStringLiteral("unchanged"));
        m_app->session().showButtonTitle(QStringLiteral("title"));
        m_app->onUpdateButtonClick();
        EXPECT_EQ(m_app->session().state(), s);
        EXPECT_EQ(m_face->statusLabel()->text(), "unchanged");
        EXPECT_EQ(m_face->updateButton()->text(), "title");
        EXPECT_EQ(m_app->session().liveWorkers(), 0);
        EXPECT_TRUE(m_window->closeEnabled());
    }
}

TEST_F(Lifecycle, ButtonAfterAFailedUpdateOnlySearchesAgain) {
    m_app->session().setState(SessionState::Updating);
    m_app->session().showStatus(QStringLiteral("failure text"));
    m_app->session().showButtonTitle(QStringLiteral("Retry"));
    m_app->session().enableButton(true);
    m_face->updateButton()->click(); // the real button reaches the handler
    EXPECT_EQ(m_app->session().state(), SessionState::Searching);
    EXPECT_EQ(m_face->statusLabel()->text(), "failure text");
    EXPECT_EQ(m_face->updateButton()->text(), "Retry");
    EXPECT_EQ(m_app->session().liveWorkers(), 0);
}

TEST_F(Lifecycle, ButtonWhenReadyStartsTheUpdate) {
    useShippedResources();
    m_window->show();
    m_app->session().setState(SessionState::Offered);
    m_app->session().setTextLabel(QStringLiteral("versions"), false);
    m_app->onUpdateButtonClick();

    // Checked before any posted change of the update worker can run.
    EXPECT_EQ(m_app->session().state(), SessionState::Updating);
    EXPECT_EQ(m_face->statusLabel()->text(), "Device Start Updating...");
    EXPECT_TRUE(m_face->progressBar()->isIndeterminate());
    EXPECT_TRUE(m_face->progressBar()->isAnimating());
    EXPECT_TRUE(m_face->warningLabel()->isVisible());
    EXPECT_EQ(m_face->warningLabel()->text(),
              messages::lookup("warning Please do not remove, update is in progress."));
    EXPECT_FALSE(m_face->updateButton()->isEnabled());
    EXPECT_EQ(m_face->updateButton()->text(), messages::lookup("btn Processing"));
    EXPECT_FALSE(m_face->infoLabel()->isVisible());
    EXPECT_TRUE(m_face->pictureView()->isVisible());
    EXPECT_FALSE(m_window->closeEnabled());
}

TEST_F(Lifecycle, ButtonWhenFinishedEndsTheApplication) {
    m_app->session().setState(SessionState::Finished);
    QTimer::singleShot(0, [this] { m_app->onUpdateButtonClick(); });
    QTimer::singleShot(20000, [] { QCoreApplication::exit(99); }); // safety net
    EXPECT_EQ(QCoreApplication::exec(), 0);
}
