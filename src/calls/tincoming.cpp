#include "tincoming.h"

#include "AccessibleText.h"
#include "CallListLayout.h"
#include "plan/Ttable.h"
#include "ui/Accessibility.h"
#include "ui/Coordinates.h"
#include "ui/Fonts.h"
#include "ui/TextLabel.h"

namespace kalvora {

tincoming::tincoming(Ttable *t, QString str1, QString str2, const EntryContext &context)
    : table(t)
    , m_str1(std::move(str1))
    , m_str2(std::move(str2))
    , m_context(context)
{
}

tincoming::~tincoming()
{
    HideLabel();
    delete l1;
    delete l2;
    delete l3;
}

void tincoming::createLabels()
{
    const EntryContext &c = m_context;
    const qint32 left = at(c.panelLeft, c.cx);
    const qint32 top = at(c.panelTop, c.cy);
    const QString texts[3] = { responsibleText(m_str1, marks.acknowledged), m_str2, QString() };
    const qint32 lefts[3] = { left, at(left, c.cw1), at(left, c.cw2) };
    TextLabel **labels[3] = { &l1, &l2, &l3 };
    for (int i = 0; i < 3; ++i) {
        auto *label = new TextLabel(c.parent);
        label->hide();
        label->setLabelFont(c.font);
        label->setText(texts[i]);
        label->move(lefts[i], top);
        *labels[i] = label;
    }
    // For a screen reader the line is one list item, its first label, which
    // says all three columns.
    l1->setProperty(kAccessibleRoleProperty, int(QAccessible::ListItem));
    l2->setProperty(kAccessibleIgnored, true);
    l3->setProperty(kAccessibleIgnored, true);
}

void tincoming::updateAccessibleName()
{
    const QString name =
        callLineAccessibleName(m_str1, m_str2, l3->text(), table->isRed, marks.acknowledged);
    if (l1->accessibleName() != name)
        l1->setAccessibleName(name); // tells a screen reader
}

void tincoming::ShowLabel(qint32 n)
{
    if (!l1)
        createLabels();
    const qint32 r = n + 1;
    if (r != lastN) {
        const qint32 top = rowTop(m_context.panelTop, m_context.cy, r, l1->height(), m_context.dd);
        for (TextLabel *label : { l1, l2, l3 }) {
            label->move(label->x(), top);
            label->show();
        }
    }
    l3->setText(SecondsToText(table->curT));
    const QColor colour = table->isRed ? maroon() : QColor(Qt::black);
    if (l1->color() != colour) {
        for (TextLabel *label : { l1, l2, l3 })
            label->setColor(colour);
    }
    updateAccessibleName();
    lastN = r;
}

void tincoming::acknowledge()
{
    marks.acknowledged = true;
    if (l1) {
        l1->setText(responsibleText(m_str1, true));
        updateAccessibleName();
    }
}

void tincoming::HideLabel()
{
    if (l1) {
        l1->hide();
        l2->hide();
        l3->hide();
    }
    lastN = -1;
}

} // namespace kalvora
