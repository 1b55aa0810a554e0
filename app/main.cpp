#include "app/main_frame.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    ConfigureApplication();
    CMainFrame frame;
    frame.show();
    return app.exec();
}
