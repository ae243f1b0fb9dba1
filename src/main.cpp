#include <QApplication>

#include "console/frmConsole.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    frmConsole console;
    console.show();
    return app.exec();
}
