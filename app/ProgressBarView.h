#pragma once
#include <QList>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

// Bar with a determinate value in [0, 1] or an indeterminate state whose animation
// can stand still. Readable from outside through accessibility: role progress bar,
// value 0..1, indeterminate shown as a mixed state, a running animation as busy.
class ProgressBarView : public QWidget {
    Q_OBJECT
public:
    explicit ProgressBarView(QWidget* parent = nullptr);
    bool isIndeterminate() const { return m_indeterminate; }
    bool isAnimating() const { return m_animating; }
    double value() const { return m_value; }
    void setIndeterminate(bool on);
    void setValue(double v);
    // A session's progress: below 0 indeterminate; 0 determinate from zero; above, the value
    // (an indeterminate bar stays so).
    void showFraction(double fraction);
    // "42 %": a fraction outside [0, 1] (or not a number) shown at the nearest end.
    static QString percentText(double fraction);
    void startAnimation();
    void stopAnimation();
    // A bar that stopped short of its work (a failed update): its fill turns grey, so that a
    // full bar never reads as done.
    void setHalted(bool halted);
    bool isHalted() const { return m_halted; }
    // Offset of the moving stripes, in pixels; advances only while animating.
    int stripePhase() const { return m_phase; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The indeterminate bar at one stripe offset, drawn once per size and pixel ratio.
    const QPixmap& frame(int phase);
    void syncTimer();
    void announceChange();

    bool m_indeterminate = true;
    bool m_animating = false;
    bool m_halted = false;
    double m_value = 0.0;
    int m_phase = 0;
    QTimer m_timer;
    QList<QPixmap> m_frames;
    QSize m_frameSize;
    qreal m_frameDpr = 0;
};
