// SPDX-License-Identifier: MIT
#include "Accessible.h"

#include <QAccessibleWidget>
#include <QWidget>

#include <utility>

namespace metronel {

namespace {

// Carried as a child of the widget it describes, so that it lives and dies with it.
class AccessibleRole : public QObject {
public:
    AccessibleRole(QWidget& widget, QAccessible::Role role, std::function<void()> press)
        : QObject(&widget), m_Role(role), m_Press(std::move(press)) {}

    QAccessible::Role role() const { return m_Role; }
    const std::function<void()>& press() const { return m_Press; }

private:
    QAccessible::Role m_Role;
    std::function<void()> m_Press;
};

// Keeps its own copy of the press action: a widget's children go before its interface.
class RoleInterface : public QAccessibleWidget {
public:
    RoleInterface(QWidget* widget, const AccessibleRole& role)
        : QAccessibleWidget(widget, role.role()), m_Press(role.press()) {}

    QStringList actionNames() const override {
        QStringList names = QAccessibleWidget::actionNames();
        if (m_Press)
            names.prepend(pressAction());
        return names;
    }

    void doAction(const QString& actionName) override {
        if (actionName == pressAction() && m_Press && widget()->isEnabled())
            m_Press();
        else
            QAccessibleWidget::doAction(actionName);
    }

private:
    std::function<void()> m_Press;
};

QAccessibleInterface* RoleFactory(const QString&, QObject* object) {
    if (!object || !object->isWidgetType())
        return nullptr;
    for (const QObject* child : object->children())
        if (const auto* role = dynamic_cast<const AccessibleRole*>(child))
            return new RoleInterface(static_cast<QWidget*>(object), *role);
    return nullptr;
}

void SetRole(QWidget& widget, QAccessible::Role role, std::function<void()> press) {
    static const bool installed = [] {
        QAccessible::installFactory(RoleFactory);
        return true;
    }();
    (void)installed;
    new AccessibleRole(widget, role, std::move(press));
    // Building a widget already asks for its interface (a caption set, a state changed);
    // drop the one made before the role was known.
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(&widget))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

} // namespace

void ShowAsSpinControl(QWidget& widget) {
    SetRole(widget, QAccessible::SpinBox, {});
}

void ShowAsLink(QWidget& widget, std::function<void()> activate) {
    SetRole(widget, QAccessible::Link, std::move(activate));
}

} // namespace metronel
