#pragma once
// Hands the table engine the locale's short date format at start-up, so date
// fields read as text (catalog columns, the product grid) look like the dates
// of the rest of the desktop.

#include <QString>

namespace qm::catalog {

// The separator of a short date format: its first character that is not a
// letter ('/' when there is none).
char DateSeparatorOf(const QString& shortDateFormat);

// Sets the engine's date format type from QLocale::system().
void ApplyLocaleDateFormat();

}  // namespace qm::catalog
