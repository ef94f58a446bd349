#pragma once

#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QObject>
#include <QString>

namespace kalvora {

class TkrdoMF;

// The console window for assistive technology:
//
//   window (its title)
//     notification                  the last alert: a new call, an overdue call
//     filler "План"                 the plan, the panel, …
//     list "Койки"                  the plan layer: one item per bed
//     label "Ответственный" …       the column titles and the other labels
//     label (list item) "…; …; …"   a call list line, said whole by its first
//                                   label; its other two labels are left out
//
// A widget with the property kAccessibleIgnored (Accessibility.h) set is not
// among the window's accessible children.

// The window's alert, said when a call starts or turns overdue. Not a
// widget: an object that stands for the last alert.
class CallAlertNode final : public QObject {
    Q_OBJECT
public:
    explicit CallAlertNode(TkrdoMF *window);
    TkrdoMF *console() const;
    const QString &text() const { return m_text; }
    // Tells a screen reader the alert (QAccessible::Alert on this object,
    // whose name is then the alert's text); nothing while none listens.
    void announce(const QString &text);

private:
    QString m_text;
};

// Installs the interfaces of the window and of its alert, and those of
// installUiAccessibility(). More calls do nothing.
void installConsoleAccessibility();

class ConsoleAccessible final : public QAccessibleWidget {
public:
    explicit ConsoleAccessible(TkrdoMF *window);

    int childCount() const override;
    QAccessibleInterface *child(int index) const override;
    int indexOfChild(const QAccessibleInterface *child) const override;

private:
    TkrdoMF *console() const;
    QList<QObject *> children() const;
};

class CallAlertAccessible final : public QAccessibleObject {
public:
    explicit CallAlertAccessible(CallAlertNode *node);

    QWindow *window() const override;
    QAccessibleInterface *parent() const override;
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QString text(QAccessible::Text t) const override;
    QRect rect() const override;
    QAccessible::Role role() const override { return QAccessible::Notification; }
    QAccessible::State state() const override;

private:
    CallAlertNode *node() const { return static_cast<CallAlertNode *>(object()); }
};

} // namespace kalvora
