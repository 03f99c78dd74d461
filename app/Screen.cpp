#include "app/AppDelegate.h"

#include <QCoreApplication>

void AppDelegate::updateStatusTxt(const QString&) {}
void AppDelegate::updateInfoTxt(const QString&) {}
void AppDelegate::setTextLabel(const std::optional<QString>&, bool) {}
void AppDelegate::updateWaringText(const std::optional<QString>&) {}
void AppDelegate::updateButtonTitle(const std::optional<QString>&) {}
void AppDelegate::enbaleButton(bool) {}
void AppDelegate::updateProgressBar(double) {}
void AppDelegate::startAnim() {}
void AppDelegate::stopAnim() {}
void AppDelegate::updateStartAnim(bool) {}
void AppDelegate::popupAlert(const QString&) {}
void AppDelegate::alertDidEnd(QMessageBox*, qint64, void*) {}
QString AppDelegate::lookup(const char* key) { return QString::fromUtf8(key); }
QString AppDelegate::fill(const QString& format, const QString&) { return format; }
QString AppDelegate::lookupFilled(const char* key, const QString& arg) { return fill(lookup(key), arg); }
void AppDelegate::post(const std::function<void()>& fn) { fn(); }
