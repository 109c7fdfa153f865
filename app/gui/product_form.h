#pragma once
// The product database window "Quillmart - Product Database": the grid over
// the product table in key order, the current product's stacked-page text
// (SNOTES) beside it, a navigator, "Insert Default Text" and Close.
//
// Each time the program shows it, the window reads the default stacked text
// from the setup, opens catalog.dbf, rebuilds CATALOG.NDX on the first field
// (unique: a product whose key repeats an earlier one gets no entry and is
// not listed), selects it and goes to the first product; the grid is enabled
// from then on. The status line says how many products the key index leaves
// out. Close posts what was typed, makes the table inactive and hides the
// window; the title-bar box only hides it, so the table stays open in key
// order and Build Local walks it that way (InstallProductWindow).

#include <QString>
#include <QWidget>

#include <optional>
#include <string>

#include "app/core/product_table.h"

class QLabel;
class QPushButton;
class QTableView;

namespace qm::gui {

class DataSetMemoEdit;
class DataSetNavigator;
class DataSetTableModel;
class TCatMainForm;

class TcatdatForm : public QWidget {
  Q_OBJECT
 public:
  explicit TcatdatForm(QWidget* parent = nullptr);
  ~TcatdatForm() override;

  catalog::ProductTable& Products() { return m_products; }
  QTableView* Grid() const { return m_grid; }
  DataSetTableModel* Model() const { return m_model; }
  DataSetMemoEdit* Memo() const { return m_memo; }
  DataSetNavigator* Navigator() const { return m_navigator; }
  QLabel* StatusLine() const { return m_status; }
  const QString& DefaultStackedText() const { return m_defaultText; }

 public slots:
  // Replaces the memo editor's text with the default stacked text, as typed.
  void InsertDefaultText();
  // The Close button: posts a pending edit, makes the table inactive, hides.
  void CloseAndHide();
  // Makes the product table inactive; a pending edit is dropped (the table is
  // about to be replaced or left).
  void CloseTable();
  // Counts the products the key index leaves out and says so in the status line.
  void UpdateStatusLine();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  int MemoWidth() const;
  QWidget* CreateLabels();
  QWidget* CreateButtons();
  void OpenProducts();
  void SizeColumns();
  void ShowCurrentRow(int row);
  void ShowError(const QString& text);

  catalog::ProductTable m_products;
  QString m_defaultText;
  DataSetTableModel* m_model = nullptr;
  QTableView* m_grid = nullptr;
  DataSetMemoEdit* m_memo = nullptr;
  DataSetNavigator* m_navigator = nullptr;
  QLabel* m_status = nullptr;
  bool m_following = false;  // the grid is being moved to the dataset's record
  std::optional<std::string> m_keyBeforeEdit;  // none while a new product is entered
};

// Products hidden by the unique key index: live products whose key repeats an
// earlier one's. Reads the table in order of entry through a table of its own.
int ProductsLeftOutOfKeyOrder(const std::string& directory = {});

// Creates the window over `mainForm`: Product > Catalog shows it, Build Local
// walks its table while it is open, Create New Database and a folder switch
// close its table first. The main window owns it.
TcatdatForm* InstallProductWindow(TCatMainForm& mainForm);

}  // namespace qm::gui
