#include "app/core/locale_dates.h"

#include <QLocale>

#include "dbf/calendar.h"

namespace qm::catalog {

char DateSeparatorOf(const QString& shortDateFormat) {
  for (QChar c : shortDateFormat)
    if (!c.isLetter() && c.unicode() < 128) return static_cast<char>(c.unicode());
  return '/';
}

void ApplyLocaleDateFormat() {
  const QString format = QLocale::system().dateFormat(QLocale::ShortFormat);
  dbf::SetDateFormatType(dbf::DateFormatTypeFor(format.toStdString(), DateSeparatorOf(format)));
}

}  // namespace qm::catalog
