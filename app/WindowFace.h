#pragma once
// The window's face: the outlets of the main interface description and what each screen
// operation does to them.

#include "app/Face.h"

class AppDelegate;
class MainWindow;
class ProgressBarView;
class QLabel;
class QPushButton;

class WindowFace : public Face {
public:
    // The window must outlive the face.
    explicit WindowFace(MainWindow* window);

    void attach(AppDelegate& controller, const QString& resourcesPath) override;
    void applyWindowStyle() override;
    void showStatus(const QString& text) override;
    void showInfo(const QString& text) override;
    void setTextLabel(const std::optional<QString>& text, bool showImage) override;
    void showWarning(const std::optional<QString>& text) override;
    void showButtonTitle(const QString& title) override;
    void enableButton(bool enabled) override;
    void showProgress(double fraction) override;
    void startAnim() override;
    void stopAnim() override;
    void showAlert(const QString& text) override;
    void updateStarted() override;
    void updateEnded(int32_t result) override;

    // Outlets, connected from the window at construction.
    MainWindow* window = nullptr;
    ProgressBarView* progressBar = nullptr;
    QPushButton* updateButton = nullptr;
    QLabel* statusLable = nullptr;
    QLabel* precentLable = nullptr;
    QLabel* infoLable = nullptr;
    QLabel* warningLable = nullptr;
    QLabel* imgView = nullptr;
    QLabel* warningImage = nullptr;

private:
    AppDelegate* m_controller = nullptr;
    QString m_resources;
};
