#pragma once
#include <QWidget>

// Bar with a determinate value in [0, 1] or an indeterminate state whose animation
// can stand still.
class ProgressBarView : public QWidget {
public:
    explicit ProgressBarView(QWidget* parent = nullptr);
    bool isIndeterminate() const { return m_indeterminate; }
    bool isAnimating() const { return m_animating; }
    double value() const { return m_value; }
    void setIndeterminate(bool on);
    void setValue(double v);
    void startAnimation();
    void stopAnimation();

private:
    bool m_indeterminate = true;
    bool m_animating = false;
    double m_value = 0.0;
};
