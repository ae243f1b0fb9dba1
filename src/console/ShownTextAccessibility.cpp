#include "console/ShownTextAccessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>

namespace {

const char* const kShownTextProperty = "fadewellShownText";

class ShownTextAccessible final : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit ShownTextAccessible(QLabel* label) : QAccessibleWidget(label, QAccessible::StaticText) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text kind) const override {
        return kind == QAccessible::Value ? shown() : QAccessibleWidget::text(kind);
    }

    QString text(int startOffset, int endOffset) const override {
        return shown().mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return static_cast<int>(shown().size()); }
    void selection(int, int* startOffset, int* endOffset) const override { *startOffset = *endOffset = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int* startOffset, int* endOffset) const override {
        *startOffset = 0;
        *endOffset = characterCount();
        return {};
    }

private:
    QString shown() const { return static_cast<QLabel*>(widget())->text(); }
};

QAccessibleInterface* shownTextFactory(const QString&, QObject* object) {
    auto* label = qobject_cast<QLabel*>(object);
    if (label != nullptr && label->property(kShownTextProperty).toBool())
        return new ShownTextAccessible(label);
    return nullptr;
}

} // namespace

void exposeShownText(QLabel* label) {
    static const bool installed = [] {
        QAccessible::installFactory(shownTextFactory);
        return true;
    }();
    (void)installed;
    label->setProperty(kShownTextProperty, true);
}

void announceShownText(QLabel* label, const QString& oldText) {
    if (!QAccessible::isActive())
        return;
    QAccessibleTextUpdateEvent event(label, 0, oldText, label->text());
    QAccessible::updateAccessibility(&event);
}
