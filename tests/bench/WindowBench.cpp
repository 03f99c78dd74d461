// The reference window of the start-up figure: a bare Qt Widgets window of the
// application's size, shown as soon as the event loop runs.

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("bench"));
    window.resize(560, 400);
    window.show();
    return app.exec();
}
