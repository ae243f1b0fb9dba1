#include "platform/MessageBoxes.h"

#include <QMessageBox>

#include "AppInfo.h"

namespace {

QString titleOrApplication(const QString& title) {
    return title.isEmpty() ? QString::fromLatin1(AppInfo::kTitle) : title;
}

} // namespace

MessageBoxes::Answer QtMessageBoxes::show(QWidget* parent, const QString& prompt, Buttons buttons, Icon icon,
                                          const QString& title) {
    QMessageBox box(icon == Icon::Question ? QMessageBox::Question : QMessageBox::NoIcon,
                    titleOrApplication(title), prompt, QMessageBox::NoButton, parent);
    if (buttons == Buttons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    const int result = box.exec();
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    return result == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

void QtMessageBoxes::notify(QWidget* parent, const QString& prompt, const QString& title) {
    auto* box = new QMessageBox(QMessageBox::Warning, titleOrApplication(title), prompt, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}
