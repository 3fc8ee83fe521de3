#pragma once

#include <QAccessibleObject>

class QQuickItem;

namespace lumora {

// What a screen reader meets of a button, a menu's entry or a switch: its name, description,
// role, states and press as Qt Quick gives them, and unavailable while it is disabled, which Qt
// Quick 6.4 leaves out (a disabled button was announced as one that presses). The values come
// from the item's `Accessible` attached object, which every control has while a screen reader
// listens.
class ButtonAccessibility : public QAccessibleObject, public QAccessibleActionInterface {
public:
    // Presents every button-like control (an AbstractButton) made from now on so; the other
    // items as Qt Quick does.
    static void install();

    explicit ButtonAccessibility(QQuickItem* item);

    [[nodiscard]] QWindow* window() const override;
    [[nodiscard]] QAccessibleInterface* parent() const override;
    [[nodiscard]] QAccessibleInterface* child(int index) const override;
    [[nodiscard]] int childCount() const override;
    [[nodiscard]] int indexOfChild(const QAccessibleInterface* child) const override;
    [[nodiscard]] QString text(QAccessible::Text kind) const override;
    [[nodiscard]] QRect rect() const override;
    [[nodiscard]] QAccessible::Role role() const override;
    [[nodiscard]] QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    [[nodiscard]] QStringList actionNames() const override;
    void doAction(const QString& name) override;
    [[nodiscard]] QStringList keyBindingsForAction(const QString& name) const override;

private:
    [[nodiscard]] QQuickItem* item() const;
    [[nodiscard]] QObject* attached() const;
};

} // namespace lumora
