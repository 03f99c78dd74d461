#include "app/ProgressBarView.h"

ProgressBarView::ProgressBarView(QWidget* parent) : QWidget(parent) {}
void ProgressBarView::setIndeterminate(bool on) { m_indeterminate = on; update(); }
void ProgressBarView::setValue(double v) { m_value = v; update(); }
void ProgressBarView::startAnimation() { m_animating = true; }
void ProgressBarView::stopAnimation() { m_animating = false; }
