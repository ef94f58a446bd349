// A bed's fields in the bed dialog, and back.

#include "FormTable.h"
#include "plan/Ttable.h"

#include <QLineEdit>

namespace kalvora {

void Ttable::ToEditForm(TFormTable &form) const
{
    form.eL->setText(l);
    form.eCode->setText(code);
    form.setChoice(imagenumber);
}

void Ttable::FromEditForm(const TFormTable &form)
{
    // The keys of the bed and call lists stay: until the next start, events
    // still reach the bed under its old code.
    l = form.eL->text();
    code = form.eCode->text();
    if (const int kind = form.choice(); kind >= 0)
        imagenumber = kind;
    ShowTable();
}

} // namespace kalvora
