// The one-second tick and the call list display.

#include "CallListLayout.h"
#include "app/TkrdoMF.h"
#include "ui/Errors.h"
#include "ui/TextLabel.h"

#include <exception>

namespace kalvora {

void TkrdoMF::TimerPlusTimer()
{
    // Every call advances even when one bed's picture cannot be shown; the
    // first such error is reported once the list is consistent again.
    std::exception_ptr firstError;
    for (const auto &item : sinc) {
        try {
            item.object->table->PlusT();
        } catch (...) {
            if (!firstError)
                firstError = std::current_exception();
        }
    }

    // Entries whose call has ended leave the list for good.
    sinc.takeIf([](const tincoming &entry) { return !entry.table->isOn; });

    const qint32 count = qint32(sinc.size());
    const CallListRows rows = layCallList(count, maxn);
    for (qint32 i = 0; i < rows.hidden; ++i)
        sinc.at(i)->HideLabel();
    for (qint32 j = 0; j < rows.shown; ++j)
        sinc.at(count - 1 - j)->ShowLabel(j);

    if (firstError)
        std::rethrow_exception(firstError);
}

void TkrdoMF::FormResize()
{
    maxn = rowsThatFit(height(), cy, l1->height(), dd);
}

} // namespace kalvora
