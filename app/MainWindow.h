#pragma once
#include "ui_MainWindow.h"

#include <QWidget>

// The single window: fixed size, title with close and minimise buttons, kept above other
// windows. Its close button can be refused while an update runs.
class MainWindow : public QWidget {
public:
    explicit MainWindow(QWidget* parent = nullptr);
    // The widgets of the interface description, by their object names.
    const Ui::MainWindow& ui() const { return m_ui; }
    // The window's own texts (accessible names) in the installed language.
    void retranslate() { m_ui.retranslateUi(this); }
    void setCloseEnabled(bool enabled) { m_closeEnabled = enabled; }
    bool closeEnabled() const { return m_closeEnabled; }

    // Title, close and minimise buttons, no resizing, above ordinary windows. Idempotent.
    void applyWindowStyle();
    // Where the window's pictures (and its icon) are: none shows at launch, so they are read
    // once the event loop runs, after the window has appeared, or when first needed.
    void setPictureFolder(const QString& resourcesDir);
    // Reads the pictures now unless that was done already.
    void ensurePictures();

    // Exposes the status line to assistive technology as the window's status bar, whose
    // every change is announced. Idempotent; the constructor calls it.
    static void announceStatusChanges();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    Ui::MainWindow m_ui;
    bool m_closeEnabled = true;
    QString m_pictureFolder;
    bool m_picturesLoaded = false;
};
