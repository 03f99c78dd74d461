#include "app/ProgressBarView.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kStripeWidth = 12;  // one light and one dark stripe are twice this wide
constexpr int kPeriod = 2 * kStripeWidth;
// 8 frames a second, 3 pixels a frame (a stripe period in 8 frames): the stripes move about
// as fast as ever at a fifth of the repaints, each one blit of a frame drawn once (see
// frame()); a repaint still costs the window system about 0.6 ms of our time.
constexpr int kFrameMs = 125;
constexpr int kStep = 3;

class ProgressBarAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit ProgressBarAccessible(ProgressBarView* bar)
        : QAccessibleWidget(bar, QAccessible::ProgressBar) {}

    ProgressBarView* bar() const { return static_cast<ProgressBarView*>(widget()); }

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    QString text(QAccessible::Text t) const override {
        switch (t) {
        case QAccessible::Name: {
            const QString name = bar()->accessibleName();
            return name.isEmpty() ? QStringLiteral("Progress") : name;
        }
        case QAccessible::Value:
            return QString::number(bar()->value());
        case QAccessible::Description:
            if (!bar()->isIndeterminate())
                return QStringLiteral("determinate");
            return bar()->isAnimating() ? QStringLiteral("indeterminate, animating")
                                        : QStringLiteral("indeterminate, still");
        default:
            return QAccessibleWidget::text(t);
        }
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkStateMixed = bar()->isIndeterminate();
        s.busy = bar()->isAnimating();
        return s;
    }

    QVariant currentValue() const override { return bar()->value(); }
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return 1.0; }
    QVariant minimumValue() const override { return 0.0; }
    QVariant minimumStepSize() const override { return 0.0; }
};

QAccessibleInterface* accessibleFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("ProgressBarView") && object && object->isWidgetType())
        return new ProgressBarAccessible(static_cast<ProgressBarView*>(object));
    return nullptr;
}

} // namespace

ProgressBarView::ProgressBarView(QWidget* parent) : QWidget(parent) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(accessibleFactory);
        return true;
    }();
    (void)factoryInstalled;
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_timer.setInterval(kFrameMs);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_phase = (m_phase + kStep) % kPeriod;
        update();
    });
}

QSize ProgressBarView::sizeHint() const { return {240, 14}; }
QSize ProgressBarView::minimumSizeHint() const { return {60, 10}; }

void ProgressBarView::setIndeterminate(bool on) {
    if (m_indeterminate == on)
        return;
    m_indeterminate = on;
    syncTimer();
    announceChange();
}

void ProgressBarView::setValue(double v) {
    // The bar's range is [0, 1]; anything else is shown at the nearest end.
    const double clamped = std::isnan(v) ? 0.0 : std::clamp(v, 0.0, 1.0);
    if (clamped == m_value)
        return;
    m_value = clamped;
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(this, m_value);
        QAccessible::updateAccessibility(&event);
    }
    update();
}

QString ProgressBarView::percentText(double fraction) {
    // Outside the range the integer would overflow and show nonsense.
    const double clamped = std::isnan(fraction) ? 0.0 : std::clamp(fraction, 0.0, 1.0);
    return QString::asprintf("%d %%", static_cast<int>(100.0 * clamped));
}

void ProgressBarView::showFraction(double fraction) {
    if (fraction < 0) {
        setIndeterminate(true);
        return;
    }
    if (fraction == 0)
        setIndeterminate(false);
    setValue(fraction);
}

void ProgressBarView::startAnimation() {
    m_animating = true;
    syncTimer();
    announceChange();
}

void ProgressBarView::stopAnimation() {
    m_animating = false;
    syncTimer();
    announceChange();
}

void ProgressBarView::setHalted(bool halted) {
    if (m_halted == halted)
        return;
    m_halted = halted;
    update();
}

void ProgressBarView::syncTimer() {
    // Only an indeterminate bar moves; a stopped one keeps its stripes where they are.
    if (m_animating && m_indeterminate)
        m_timer.start();
    else
        m_timer.stop();
}

void ProgressBarView::announceChange() {
    if (QAccessible::isActive()) {
        QAccessible::State changed;
        changed.checkStateMixed = true;
        changed.busy = true;
        QAccessibleStateChangeEvent event(this, changed);
        QAccessible::updateAccessibility(&event);
    }
    update();
}

namespace {

struct Track {
    QRectF rect;
    QPainterPath path;
    QLinearGradient fill;
};

Track trackOf(const QRect& widgetRect, bool halted = false) {
    Track t;
    t.rect = QRectF(widgetRect).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = t.rect.height() / 2;
    t.path.addRoundedRect(t.rect, radius, radius);
    t.fill = QLinearGradient(t.rect.topLeft(), t.rect.bottomLeft());
    t.fill.setColorAt(0, halted ? QColor(0xa8, 0xaf, 0xb8) : QColor(0x4f, 0x9c, 0xf5));
    t.fill.setColorAt(1, halted ? QColor(0x7d, 0x85, 0x90) : QColor(0x1f, 0x6f, 0xd6));
    return t;
}

// The empty track, and the painter clipped to it with no pen, ready for the fill.
void paintTrack(QPainter& p, const Track& t) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0xb4, 0xbd, 0xc9), 1));
    p.setBrush(QColor(0xe8, 0xec, 0xf1));
    p.drawPath(t.path);
    p.setClipPath(t.path);
    p.setPen(Qt::NoPen);
}

void paintStripes(QPainter& p, const Track& t, int phase) {
    p.setBrush(t.fill);
    p.drawRect(t.rect);
    p.setBrush(QColor(255, 255, 255, 70));
    const QRectF& track = t.rect;
    const qreal h = track.height();
    for (qreal x = track.left() - h - kPeriod + phase; x < track.right(); x += kPeriod) {
        QPainterPath stripe;
        stripe.moveTo(x, track.bottom());
        stripe.lineTo(x + h, track.top());
        stripe.lineTo(x + h + kStripeWidth, track.top());
        stripe.lineTo(x + kStripeWidth, track.bottom());
        stripe.closeSubpath();
        p.drawPath(stripe);
    }
}

} // namespace

const QPixmap& ProgressBarView::frame(int phase) {
    const qreal dpr = devicePixelRatioF();
    if (m_frameSize != size() || m_frameDpr != dpr || m_frames.isEmpty()) {
        m_frames.clear();
        m_frameSize = size();
        m_frameDpr = dpr;
        const Track t = trackOf(rect());
        for (int at = 0; at < kPeriod; at += kStep) {
            QPixmap pixmap(size() * dpr);
            pixmap.setDevicePixelRatio(dpr);
            pixmap.fill(Qt::transparent);
            QPainter p(&pixmap);
            paintTrack(p, t);
            paintStripes(p, t, at);
            m_frames.push_back(pixmap);
        }
    }
    return m_frames.at((phase % kPeriod) / kStep);
}

void ProgressBarView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (m_indeterminate) {
        p.drawPixmap(0, 0, frame(m_phase));
        return;
    }
    const Track t = trackOf(rect(), m_halted);
    paintTrack(p, t);
    if (m_value > 0) {
        QRectF filled = t.rect;
        filled.setWidth(t.rect.width() * m_value);
        const qreal radius = t.rect.height() / 2;
        p.setBrush(t.fill);
        p.drawRoundedRect(filled, radius, radius);
    }
}
