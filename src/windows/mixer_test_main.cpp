// fadewell-mixer-test: the mixer test window on the sound card's own mixer.
#include <QApplication>

#include "AppInfo.h"
#include "platform/AlsaMixer.h"
#include "platform/MessageBoxes.h"
#include "windows/Form1.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(AppInfo::kTitle));
    mixer::AlsaMixer mixer("default");
    QtMessageBoxes boxes;
    Form1 form(mixer, boxes);
    form.show();
    return QApplication::exec();
}
