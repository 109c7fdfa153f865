#pragma once
// Where Build Local takes its product records from.
//
// The generators walk a record source and never learn what lies behind it: the
// table opened afresh (order of entry, deleted records skipped), or the product
// window's dataset (key order). Texts are UTF-8 QStrings; a character field's
// text comes without its trailing blanks.

#include <QString>

#include <stdexcept>

namespace qm::catalog {

// A record source failure (table missing, field position beyond the table,
// no memo field): the command stops and shows the text.
class RecordSourceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class RecordSource {
 public:
  virtual ~RecordSource() = default;

  // Makes the source active: opens the table when it is closed, leaves an
  // open one as it is. Throws RecordSourceError when it cannot be opened.
  virtual void Open() = 0;
  // Moves to the first record in the source's order (Eof() at once when empty).
  virtual void First() = 0;
  // True once the walk has moved past the last record.
  virtual bool Eof() const = 0;
  virtual void Next() = 0;

  // The value of field position `position` (1 = the key field) as text; the
  // memo field counts as a position and gives its text. Throws
  // RecordSourceError for a position beyond the table's fields.
  virtual QString FieldText(int position) const = 0;
  // The text of the memo field "SNOTES" (name matched ignoring case). Throws
  // RecordSourceError when the table has no such field.
  virtual QString MemoText() const = 0;
};

// The error texts shared by every record source.
QString FieldPositionError(int position, int fieldCount);
QString MemoFieldMissingError(const QString& tableName);

}  // namespace qm::catalog
