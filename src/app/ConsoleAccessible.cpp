#include "ConsoleAccessible.h"

#include "TkrdoMF.h"
#include "ui/Accessibility.h"

#include <QFocusFrame>
#include <QMenu>

namespace kalvora {

CallAlertNode::CallAlertNode(TkrdoMF *window)
    : QObject(window)
{
    setObjectName(QStringLiteral("callAlert"));
}

TkrdoMF *CallAlertNode::console() const
{
    return static_cast<TkrdoMF *>(parent());
}

void CallAlertNode::announce(const QString &text)
{
    m_text = text;
    if (!QAccessible::isActive())
        return;
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(this);
    // Bridges that know no alert event of their own (AT-SPI) pass on the
    // new name and the object showing, which screen readers announce.
    sendAccessibleEvent(iface, QAccessible::NameChanged);
    sendAccessibleEvent(iface, QAccessible::ObjectShow);
    sendAccessibleEvent(iface, QAccessible::Alert);
}

// ---- the window ------------------------------------------------------------

ConsoleAccessible::ConsoleAccessible(TkrdoMF *window)
    : QAccessibleWidget(window, QAccessible::Window)
{
}

TkrdoMF *ConsoleAccessible::console() const
{
    return static_cast<TkrdoMF *>(widget());
}

QList<QObject *> ConsoleAccessible::children() const
{
    // The child controls as QAccessibleWidget finds them, without those left
    // out on purpose; then the alert.
    QList<QObject *> list;
    for (QObject *o : console()->children()) {
        auto *w = qobject_cast<QWidget *>(o);
        if (w) {
            if (w->isWindow() || qobject_cast<QMenu *>(w) || qobject_cast<QFocusFrame *>(w)
                || w->objectName() == QLatin1String("qt_rubberband")
                || w->property(kAccessibleIgnored).toBool())
                continue;
            list << w;
        } else if (qobject_cast<CallAlertNode *>(o)) {
            list << o;
        }
    }
    return list;
}

int ConsoleAccessible::childCount() const
{
    return int(children().size());
}

QAccessibleInterface *ConsoleAccessible::child(int index) const
{
    const QList<QObject *> list = children();
    return index >= 0 && index < list.size() ? QAccessible::queryAccessibleInterface(list.at(index))
                                             : nullptr;
}

int ConsoleAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    if (!child || !child->object())
        return -1;
    return int(children().indexOf(child->object()));
}

// ---- the alert -------------------------------------------------------------

CallAlertAccessible::CallAlertAccessible(CallAlertNode *node)
    : QAccessibleObject(node)
{
}

QWindow *CallAlertAccessible::window() const
{
    return node()->console()->windowHandle();
}

QAccessibleInterface *CallAlertAccessible::parent() const
{
    return QAccessible::queryAccessibleInterface(node()->console());
}

QString CallAlertAccessible::text(QAccessible::Text t) const
{
    return t == QAccessible::Name ? node()->text() : QString();
}

QRect CallAlertAccessible::rect() const
{
    // Where the call list lies: the alert is about a call.
    const TkrdoMF *window = node()->console();
    return { window->mapToGlobal(QPoint(0, 0)), window->size() };
}

QAccessible::State CallAlertAccessible::state() const
{
    QAccessible::State state;
    state.invisible = node()->text().isEmpty();
    return state;
}

// ---- the factory -----------------------------------------------------------

namespace {

QAccessibleInterface *consoleAccessibleFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String(TkrdoMF::staticMetaObject.className())) {
        if (auto *window = qobject_cast<TkrdoMF *>(object))
            return new ConsoleAccessible(window);
    }
    if (className == QLatin1String(CallAlertNode::staticMetaObject.className())) {
        if (auto *node = qobject_cast<CallAlertNode *>(object))
            return new CallAlertAccessible(node);
    }
    return nullptr;
}

} // namespace

void installConsoleAccessibility()
{
    static const bool installed = [] {
        installUiAccessibility();
        QAccessible::installFactory(&consoleAccessibleFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace kalvora
