#include "platform/Collate.h"

#include <QCollator>
#include <QLocale>

namespace platform {

int lstrcmpA(const QString &a, const QString &b)
{
    // Built per call: the locale can change in tests, and QCollator is cheap
    // next to the tree sorts that use it.
    QCollator collator{QLocale()};
    collator.setCaseSensitivity(Qt::CaseSensitive);
    collator.setNumericMode(false);
    const int r = collator.compare(a, b);
    if (r != 0)
        return r;
    // Equal under the collator but different strings still need an order.
    return QString::compare(a, b, Qt::CaseSensitive);
}

} // namespace platform
