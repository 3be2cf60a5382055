// The floor of the settings-window benchmarks: a bare Qt Widgets window of
// the settings window's size, started and shown the same way.

#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.resize(640, 400);
    window.show();
    return app.exec();
}
