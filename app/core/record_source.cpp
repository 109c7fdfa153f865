#include "app/core/record_source.h"

namespace qm::catalog {

QString FieldPositionError(int position, int fieldCount) {
  return QStringLiteral("Field index out of range: column %1 asked for, the product table has %2 fields")
      .arg(position)
      .arg(fieldCount);
}

QString MemoFieldMissingError(const QString& tableName) {
  return QStringLiteral("%1: Field 'SNOTES' not found").arg(tableName);
}

}  // namespace qm::catalog
