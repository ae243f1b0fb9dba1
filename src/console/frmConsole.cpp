#include "console/frmConsole.h"

frmConsole::frmConsole(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Fadewell"));
}
