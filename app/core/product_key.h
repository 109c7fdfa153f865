#pragma once
// What a product key must be, in one place: the window's post, quillmart-cli
// set and Build Local all ask here. A key names the product and its stacked
// page ({key}.htm), so a key is refused when
// - it is empty or all blanks (the product could not be found again, and its
//   page would be the hidden file ".htm" behind an invisible link);
// - its page would not be a plain file of the working directory (a key holding
//   '/', '\' or NUL, or the key "." or "..");
// - it would not fit on one line of upload.txt (it holds CR or LF);
// - its page would replace catalog.htm, help.htm or upload.txt on a server
//   that ignores letter case.

#include <QString>

#include <stdexcept>
#include <string>

namespace qm::catalog {

class ProductKeyError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws ProductKeyError with a message in plain words: an empty key names
// `keyField` (the key field's name) when given, any other refusal names the key.
void CheckProductKey(const QString& key, const QString& keyField = {});
// The same for UTF-8 text, as the dataset and the command line hold it.
void CheckProductKey(const std::string& key, const std::string& keyField = {});

}  // namespace qm::catalog
