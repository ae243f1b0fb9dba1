#include "platform/FileDialog.h"

#include <QFileDialog>

bool QtFileDialog::ShowOpen(QWidget* parent) {
    m_fileName = QFileDialog::getOpenFileName(parent);
    return !m_fileName.isEmpty();
}
