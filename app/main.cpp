#include "app/main_frame.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The settings and the fallback template folder hang below these names.
    QApplication::setOrganizationName(QStringLiteral("Quillbrook"));
    QApplication::setApplicationName(QStringLiteral("Phrasemill"));
    QApplication::setApplicationDisplayName(QStringLiteral("Phrasemill 2.0"));
    // Lets the desktop match the window to the installed entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.quillbrook.Phrasemill"));
    CMainFrame frame;
    frame.show();
    return app.exec();
}
