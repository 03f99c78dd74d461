#pragma once
// The window's face: the outlets of the main interface description and what each event of
// the session does to them.

#include "app/Face.h"

class Application;
class MainWindow;
class ProgressBarView;
class QLabel;
class QPushButton;

class WindowFace : public Face {
public:
    // The window must outlive the face.
    explicit WindowFace(MainWindow* window);

    void attach(Application& application, const QString& resourcesPath) override;
    void applyWindowStyle() override;
    void showStatus(const QString& text) override;
    void showInfo(const QString& text) override;
    void setTextLabel(const std::optional<QString>& text, bool showImage) override;
    void showWarning(const std::optional<QString>& text) override;
    void showButtonTitle(const QString& title) override;
    void enableButton(bool enabled) override;
    void showProgress(double fraction) override;
    void startAnimation() override;
    void stopAnimation() override;
    void showAlert(const QString& text) override;
    void showNotice(const QString& text) override;
    void updateStarted() override;
    void updateEnded(const UpdateOutcome& outcome) override;
    void unitQuestionAsked(const UnitQuestion& question) override;

    // The outlets, connected from the window at construction.
    MainWindow* window() const { return m_window; }
    ProgressBarView* progressBar() const { return m_progressBar; }
    QPushButton* updateButton() const { return m_updateButton; }
    QLabel* statusLabel() const { return m_statusLabel; }
    QLabel* percentLabel() const { return m_percentLabel; }
    QLabel* infoLabel() const { return m_infoLabel; }
    QLabel* warningLabel() const { return m_warningLabel; }
    QLabel* pictureView() const { return m_pictureView; }
    QLabel* warningImage() const { return m_warningImage; }

private:
    MainWindow* m_window;
    ProgressBarView* m_progressBar;
    QPushButton* m_updateButton;
    QLabel* m_statusLabel;
    QLabel* m_percentLabel;
    QLabel* m_infoLabel;
    QLabel* m_warningLabel;
    QLabel* m_pictureView;
    QLabel* m_warningImage;
    Application* m_application = nullptr;
    QString m_resources;
};
