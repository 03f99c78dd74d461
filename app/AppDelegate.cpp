#include "app/AppDelegate.h"
#include "app/MainWindow.h"

#include <cstring>

AppDelegate::AppDelegate(Environment env, MainWindow* w, QObject* parent)
    : QObject(parent), window(w), m_env(std::move(env)) {
    connectOutlets();
}
AppDelegate::~AppDelegate() = default;

void AppDelegate::connectOutlets() {
    progressBar = window->ui.progressBar;
    updateButton = window->ui.updateButton;
    statusLable = window->ui.statusLable;
    precentLable = window->ui.precentLable;
    infoLable = window->ui.infoLable;
    warningLable = window->ui.warningLable;
    imgView = window->ui.imgView;
    warningImage = window->ui.warningImage;
}

void AppDelegate::applicationDidFinishLaunching() {}
void AppDelegate::applicationWillTerminate() {}
int AppDelegate::startDetect() { return 0; }
void AppDelegate::stopDetect() {}
int AppDelegate::startInitialize() { return -1; }
int AppDelegate::startUpdate() { return 0; }
void AppDelegate::onUpdateButtonClick() {}
void AppDelegate::spawnWorker(void (AppDelegate::*)()) {}

void copyVersion(char (&dest)[260], const QByteArray& utf8) {
    std::memset(dest, 0, 256);
    std::strncpy(dest, utf8.constData(), 255);
}
