#include "platform/FileDialog.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPixmapCache>
#include <QPushButton>
#include <QTimer>

namespace {

// Qt's own dialog (the one used where the desktop offers no native dialog) reads double quotes in
// its name field as the marks around several names ("a" "b"): a file whose name has them was "not
// found", typed or picked from the list, and the piece between the quotes was looked for instead
// (a file called that was even chosen in its place). A name field that names a file as it stands
// is taken as it stands; every other text is left to Qt.
class LiteralNameDialog final : public QFileDialog {
public:
    explicit LiteralNameDialog(QWidget* parent) : QFileDialog(parent) {
        setFileMode(QFileDialog::ExistingFile);
        // After Qt's own handler of the same signal, which disables Open for such a name.
        if (QLineEdit* field = nameField())
            connect(field, &QLineEdit::textChanged, this, &LiteralNameDialog::enableOpenForLiteralName);
    }

    QString chosen() const { return m_chosen; }

protected:
    void accept() override {
        const QString literal = literalFile();
        if (!literal.isEmpty()) {
            m_chosen = literal;
            QDialog::accept(); // through done(), as Qt's accept() ends
            return;
        }
        QFileDialog::accept();
    }

    void done(int result) override {
        if (result == QDialog::Accepted && m_chosen.isEmpty())
            m_chosen = selectedFiles().value(0);
        QFileDialog::done(result);
    }

private:
    QLineEdit* nameField() const { return findChild<QLineEdit*>(QStringLiteral("fileNameEdit")); }

    // The file the name field names as it stands, when its text has a double quote and is one.
    QString literalFile() const {
        const QLineEdit* field = nameField();
        if (field == nullptr || !field->text().contains(u'"'))
            return {};
        const QFileInfo file(QDir(directory()).filePath(field->text()));
        return file.isFile() ? file.absoluteFilePath() : QString();
    }

    void enableOpenForLiteralName() {
        if (literalFile().isEmpty())
            return;
        if (auto* buttons = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox")))
            if (QPushButton* open = buttons->button(QDialogButtonBox::Open))
                open->setEnabled(true);
    }

    QString m_chosen;
};

} // namespace

bool QtFileDialog::ShowOpen(QWidget* parent) {
    LiteralNameDialog dialog(parent);
    m_fileName = dialog.exec() == QDialog::Accepted ? dialog.chosen() : QString();
    // The dialog's leftovers: its style's drawings in the pixmap cache (some 300 KB of pictures the
    // console never draws again) and what its model, views and icons freed. Qt deletes some of it
    // only once the event loop runs again; the console's own drawings come back at their next paint.
    QTimer::singleShot(0, QCoreApplication::instance(), [afterClose = m_afterClose] {
        QPixmapCache::clear();
        if (afterClose)
            afterClose();
    });
    return !m_fileName.isEmpty();
}
