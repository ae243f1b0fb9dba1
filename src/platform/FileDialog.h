#pragma once
// The file-open dialog behind a seam, so tests can answer it. No filter, title or start folder.
#include <QString>

class QWidget;

class FileDialog {
public:
    virtual ~FileDialog() = default;
    // Modal. True when the user chose a file; after a cancel FileName() is empty.
    virtual bool ShowOpen(QWidget* parent) = 0;
    virtual QString FileName() const = 0;
};

class QtFileDialog final : public FileDialog {
public:
    bool ShowOpen(QWidget* parent) override;
    QString FileName() const override { return m_fileName; }

private:
    QString m_fileName;
};
