#include "AppTestSupport.h"
#include "app/ProgressBarView.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <thread>

using Screen = AppFixture;

TEST_F(Screen, ProgressFollowsTheFractionRule) {
    auto* bar = m_face->progressBar();
    auto* percent = m_face->percentLabel();

    m_app->session().showProgress(0.0);
    EXPECT_FALSE(bar->isIndeterminate());
    EXPECT_EQ(percent->text(), "0 %");
    m_app->session().showProgress(0.999);
    EXPECT_EQ(percent->text(), "99 %");
    EXPECT_DOUBLE_EQ(bar->value(), 0.999);
    m_app->session().showProgress(1.0);
    EXPECT_EQ(percent->text(), "100 %");

    // Below zero: indeterminate and "0 %", the value stays, nothing starts moving.
    m_app->session().showProgress(-1);
    EXPECT_TRUE(bar->isIndeterminate());
    EXPECT_FALSE(bar->isAnimating());
    EXPECT_EQ(percent->text(), "0 %");
    EXPECT_DOUBLE_EQ(bar->value(), 1.0);

    // A positive fraction alone does not leave indeterminate mode; only zero does.
    m_app->session().showProgress(0.5);
    EXPECT_TRUE(bar->isIndeterminate());
    EXPECT_EQ(percent->text(), "50 %");
    EXPECT_DOUBLE_EQ(bar->value(), 0.5);
    m_app->session().showProgress(0.0);
    EXPECT_FALSE(bar->isIndeterminate());
    EXPECT_DOUBLE_EQ(bar->value(), 0.0);
}

TEST_F(Screen, ProgressOutsideItsRangeStaysSane) {
    m_app->session().showProgress(0.0);
    m_app->session().showProgress(7.5);
    EXPECT_EQ(m_face->percentLabel()->text(), "100 %");
    EXPECT_DOUBLE_EQ(m_face->progressBar()->value(), 1.0);
    m_app->session().showProgress(std::nan(""));
    EXPECT_EQ(m_face->percentLabel()->text(), "0 %");
    EXPECT_DOUBLE_EQ(m_face->progressBar()->value(), 0.0);
}

TEST_F(Screen, StoppedAnimationLeavesAnIndeterminateBarStandingStill) {
    auto* bar = m_face->progressBar();
    m_app->session().animate(true);
    EXPECT_TRUE(bar->isIndeterminate());
    EXPECT_TRUE(bar->isAnimating());
    ASSERT_TRUE(pumpUntil([bar] { return bar->stripePhase() != 0; })) << "stripes never moved";

    m_app->session().animate(false);
    EXPECT_TRUE(bar->isIndeterminate());
    EXPECT_FALSE(bar->isAnimating());
    const int phase = bar->stripePhase();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    EXPECT_EQ(bar->stripePhase(), phase);

    // A determinate bar stays determinate when stopped.
    m_app->session().showProgress(0.0);
    m_app->session().animate(false);
    EXPECT_FALSE(bar->isIndeterminate());
}

TEST_F(Screen, WarningHidesOnNilOrEmptyAndKeepsItsText) {
    useShippedResources();
    m_window->show();
    m_app->session().showWarning(QStringLiteral("warning Update is finished."));
    EXPECT_TRUE(m_face->warningLabel()->isVisible());
    EXPECT_TRUE(m_face->warningImage()->isVisible());
    EXPECT_EQ(m_face->warningLabel()->text(), messages::lookup("warning Update is finished."));
    EXPECT_NE(m_face->warningLabel()->text(), "warning Update is finished.");

    for (const std::optional<QString>& none : {std::optional<QString>(), std::optional<QString>(QString())}) {
        m_app->session().showWarning(QStringLiteral("warning Update is finished."));
        m_app->session().showWarning(none);
        EXPECT_FALSE(m_face->warningLabel()->isVisible());
        EXPECT_FALSE(m_face->warningImage()->isVisible());
        EXPECT_EQ(m_face->warningLabel()->text(), messages::lookup("warning Update is finished."));
    }
    EXPECT_FALSE(m_face->warningImage()->pixmap().isNull());
}

TEST_F(Screen, ButtonTitleNilLeavesItAndEnableFollows) {
    m_app->session().showButtonTitle(QStringLiteral("Start"));
    m_app->session().showButtonTitle(std::nullopt);
    EXPECT_EQ(m_face->updateButton()->text(), "Start");
    m_app->session().enableButton(true);
    EXPECT_TRUE(m_face->updateButton()->isEnabled());
    m_app->session().enableButton(false);
    EXPECT_FALSE(m_face->updateButton()->isEnabled());
}

TEST_F(Screen, TextLabelAndPictureShareTheInfoArea) {
    m_window->show();
    m_app->session().showInfo(QStringLiteral("old"));
    m_app->session().setTextLabel(std::nullopt, true);
    EXPECT_FALSE(m_face->infoLabel()->isVisible());
    EXPECT_TRUE(m_face->pictureView()->isVisible());
    EXPECT_EQ(m_face->infoLabel()->text(), "old");

    m_app->session().showInfo(QStringLiteral("still hidden"));
    EXPECT_FALSE(m_face->infoLabel()->isVisible());

    m_app->session().setTextLabel(QStringLiteral("Current version:\n\t1.0"), false);
    EXPECT_TRUE(m_face->infoLabel()->isVisible());
    EXPECT_FALSE(m_face->pictureView()->isVisible());
    EXPECT_EQ(m_face->infoLabel()->text(), "Current version:\n\t1.0");
}

TEST_F(Screen, DeviceTextsAreShownAsPlainText) {
    m_app->session().showInfo(QStringLiteral("<b>1.0</b><img src=\"/etc/passwd\">"));
    EXPECT_EQ(m_face->infoLabel()->textFormat(), Qt::PlainText);
    EXPECT_EQ(m_face->statusLabel()->textFormat(), Qt::PlainText);
}

TEST_F(Screen, AlertOpensWithoutBlockingAndOkQuits) {
    useShippedResources();
    m_window->show();
    m_app->session().showAlert(QStringLiteral("stat Please install driver"));
    auto* alert = m_window->findChild<QMessageBox*>(QStringLiteral("alert"));
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(alert->isVisible());
    EXPECT_EQ(alert->windowModality(), Qt::WindowModal);
    EXPECT_EQ(alert->text(), messages::lookup("stat Please install driver"));
    ASSERT_EQ(alert->buttons().size(), 1);
    EXPECT_EQ(alert->buttons().front()->text(), "OK");
    EXPECT_FALSE(alert->iconPixmap().isNull());

    QTimer::singleShot(0, alert->buttons().front(), &QAbstractButton::click);
    QTimer::singleShot(20000, [] { QCoreApplication::exit(99); }); // safety net
    EXPECT_EQ(QCoreApplication::exec(), 0);
}

TEST_F(Screen, AlertAnsweredOtherwiseDoesNothing) {
    QTimer::singleShot(0, [this] {
        m_app->alertAnswered(false);
        QCoreApplication::exit(7);
    });
    EXPECT_EQ(QCoreApplication::exec(), 7);
}

TEST_F(Screen, PostFromAWorkerWaitsForTheGuiThread) {
    QThread* ranOn = nullptr;
    std::vector<int> order;
    bool sawItsEffect = false;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        m_app->session().post([&] { ranOn = QThread::currentThread(); order.push_back(1); });
        sawItsEffect = ranOn != nullptr;
        m_app->session().showStatus(QStringLiteral("second"));
        m_app->session().post([&] { order.push_back(3); });
        done = true;
    });
    ASSERT_TRUE(pumpUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(ranOn, QCoreApplication::instance()->thread());
    EXPECT_TRUE(sawItsEffect);
    EXPECT_EQ(order, (std::vector<int>{1, 3}));
    EXPECT_EQ(m_face->statusLabel()->text(), "second");

    // On the GUI thread it runs at once, without an event loop.
    bool direct = false;
    m_app->session().post([&] { direct = true; });
    EXPECT_TRUE(direct);
}

TEST_F(Screen, BarIsReadableFromOutside) {
    m_window->show();
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(m_face->progressBar());
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::ProgressBar);
    m_app->session().showProgress(0.0);
    m_app->session().showProgress(0.25);
    ASSERT_NE(iface->valueInterface(), nullptr);
    EXPECT_DOUBLE_EQ(iface->valueInterface()->currentValue().toDouble(), 0.25);
    EXPECT_FALSE(iface->state().checkStateMixed);
    m_app->session().animate(true);
    EXPECT_TRUE(iface->state().checkStateMixed);
    EXPECT_TRUE(iface->state().busy);
    EXPECT_EQ(iface->text(QAccessible::Description), "indeterminate, animating");
    m_app->session().animate(false);
    EXPECT_EQ(iface->text(QAccessible::Description), "indeterminate, still");
}

TEST_F(Screen, WindowIsFixedAndRefusesClosingWhileAskedTo) {
    m_window->show();
    const Qt::WindowFlags flags = m_window->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(m_window->minimumSize(), m_window->maximumSize());

    m_window->setCloseEnabled(false);
    EXPECT_FALSE(m_window->close());
    EXPECT_TRUE(m_window->isVisible());
    m_window->setCloseEnabled(true);
    EXPECT_TRUE(m_window->close());
}
