#include "app/core/product_key.h"

#include "app/core/catalog_page.h"
#include "app/core/stacked_pages.h"

namespace qm::catalog {

namespace {

// Control characters shown as the user would type them in a message.
QString Shown(const QString& key) {
  return QString(key).replace(QChar(0), QStringLiteral("\\0")).replace(u'\r', QStringLiteral("\\r"))
      .replace(u'\n', QStringLiteral("\\n"));
}

[[noreturn]] void Refuse(const QString& key, const QString& why) {
  throw ProductKeyError(
      QStringLiteral("The product key \"%1\" cannot name a stacked page: %2").arg(Shown(key), why).toStdString());
}

}  // namespace

void CheckProductKey(const QString& key, const QString& keyField) {
  if (key.trimmed().isEmpty()) {
    const QString field = keyField.isEmpty() ? QStringLiteral("key") : QStringLiteral("key field ") + keyField;
    throw ProductKeyError(QStringLiteral("A product needs a key: the %1 is empty. The key names the product "
                                         "and its stacked page, so type one in.")
                              .arg(field)
                              .toStdString());
  }
  if (key.contains(u'/') || key.contains(u'\\') || key.contains(QChar(0)) || key == QStringLiteral(".") ||
      key == QStringLiteral(".."))
    Refuse(key, QStringLiteral("pages are written only into the working directory, so a key may not hold / or \\ "
                               "or be . or .."));
  if (key.contains(u'\r') || key.contains(u'\n')) Refuse(key, QStringLiteral("it holds a line break"));
  const QString page = key + QStringLiteral(".htm");
  for (const char* reserved : {kCatalogPageName, "help.htm", kUploadListName})
    if (page.compare(QLatin1String(reserved), Qt::CaseInsensitive) == 0)
      Refuse(key, QStringLiteral("its page %1 would replace %2").arg(page, QLatin1String(reserved)));
}

void CheckProductKey(const std::string& key, const std::string& keyField) {
  CheckProductKey(QString::fromStdString(key), QString::fromStdString(keyField));
}

}  // namespace qm::catalog
