#pragma once
// The file-open dialog behind a seam, so tests can answer it. No filter, title or start folder.
#include <QString>
#include <functional>

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
    // afterClose runs once what a closed dialog held is freed (from the event loop, after the
    // handler that showed it has returned): the program's place to hand that memory back.
    explicit QtFileDialog(std::function<void()> afterClose = {}) : m_afterClose(std::move(afterClose)) {}
    bool ShowOpen(QWidget* parent) override;
    QString FileName() const override { return m_fileName; }

private:
    std::function<void()> m_afterClose;
    QString m_fileName;
};
