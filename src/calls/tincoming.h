#pragma once

#include "journal/JournalTypes.h"
#include "safety/CallMarks.h"

#include <QFont>
#include <QString>

class QWidget;

namespace kalvora {

class TextLabel;
class Ttable;

// Where the call list lies and how its lines look.
struct EntryContext {
    QWidget *parent = nullptr;
    QFont font; // the list font (a copy of the window's hidden label l1's)
    qint32 lineHeight = 0; // height of one line in that font
    qint32 panelLeft = 0;
    qint32 panelTop = 0;
    qint32 cx = 20;
    qint32 cy = 20;
    qint32 cw1 = 220;
    qint32 cw2 = 380;
    qint32 dd = 5;
};

// One line of the call list: who is in charge, which bed, how long the call
// has been waiting. The entry refers to its bed and owns its three labels,
// which it creates the first time the line is shown: a call that never
// reaches a visible row costs no controls.
class tincoming {
public:
    tincoming(Ttable *t, QString str1, QString str2, const EntryContext &context);
    ~tincoming();
    tincoming(const tincoming &) = delete;
    tincoming &operator=(const tincoming &) = delete;

    // Shows the entry on display row n + 1 (row 0 holds the column titles).
    void ShowLabel(qint32 n);
    // Hides the line and forgets its row.
    void HideLabel();

    Ttable *table;
    TextLabel *l1 = nullptr;
    TextLabel *l2 = nullptr;
    TextLabel *l3 = nullptr;
    qint32 lastN = -1;

    const QString &responsible() const { return m_str1; }
    const QString &bedText() const { return m_str2; }

    // How the call started and whether it has been acknowledged.
    CallMarks marks;
    // Acknowledges the call: the first column shows it; the bed keeps calling.
    void acknowledge();

    // The call's number in the journal while the call is open in it; none
    // without a journal, and once its end has been recorded.
    journal::CallId journalId = journal::kNoCall;

private:
    void createLabels();
    // The first label's accessible name: the whole line.
    void updateAccessibleName();

    QString m_str1;
    QString m_str2;
    const EntryContext &m_context;
};

} // namespace kalvora
