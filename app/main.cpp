#include "app/main_frame.h"
#include "app/translations.h"

#include <QApplication>
#include <QLocale>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    ConfigureApplication();
    InstallTranslations(QLocale::system());
    CMainFrame frame;
    frame.show();
    return app.exec();
}
