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
//
// The grid addresses products by record: a click or a key goes to the
// product the row showed, and an edit lands in that product's field or is
// refused when the product is gone. After a post the grid shows the table as
// it now is (in key order) with the edited product current. When another
// program changed the table, the grid is read again when the window is
// activated and once a second (RefreshInterval), whenever no edit is pending.
// A product's key is checked before it is posted (product_key.h).
//
// Keys in the grid: Insert adds a product, Ctrl+Del deletes the current one
// (asking, as the navigator's "-" does), Ctrl+Home and Ctrl+End go to the
// first and last product, Enter posts a pending edit and Escape cancels it.
//
// The window owns its product table; its data-aware widgets are destroyed
// before the table is.

#include <QModelIndex>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <array>
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
  // Reads the table again when another program changed it since the window
  // last read or wrote it, unless an edit is pending; true when it did.
  bool RefreshIfChangedOutside();
  // How often RefreshIfChangedOutside runs (milliseconds; 0: only on activation).
  void SetRefreshInterval(int milliseconds);
  // True while the user has typed something not yet posted (a cell editor
  // open, or the product in edit or insert state).
  bool HasPendingEdit() const;
  // Posts what is pending (an open cell editor first); false, after showing
  // why, when the post was refused.
  bool SavePendingEdit();
  // Drops what is pending.
  void DiscardPendingEdit();
  // Before the program ends: with an edit pending, asks Save / Discard /
  // Cancel; false when the program must keep running (Cancel, or a refused save).
  bool MayExit();

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  int MemoWidth() const;
  QWidget* CreateLabels();
  QWidget* CreateButtons();
  void OpenProducts();
  void SizeColumns();
  void ShowCurrentRow(int row);
  void TrackModelChanges();
  void FollowGridCurrent(const QModelIndex& current);
  void ShowError(const QString& text);
  void WireDataSetEvents();
  bool GridKey(int key, Qt::KeyboardModifiers modifiers);
  QWidget* CellEditor() const;
  // The table files' modification times and sizes, to notice another program's writes.
  using TableStamp = std::array<long long, 4>;
  TableStamp CurrentTableStamp() const;

  catalog::ProductTable m_products;
  QString m_defaultText;
  DataSetTableModel* m_model = nullptr;
  QTableView* m_grid = nullptr;
  DataSetMemoEdit* m_memo = nullptr;
  DataSetNavigator* m_navigator = nullptr;
  QLabel* m_status = nullptr;
  bool m_following = false;  // the grid is being moved to the dataset's record
  bool m_modelChanging = false;  // the model is adding, removing or fetching rows again
  int m_column = 0;          // the grid column the user works in
  std::optional<std::string> m_keyBeforeEdit;  // none while a new product is entered
  TableStamp m_seenStamp{};    // the table as the window last read or wrote it
  TableStamp m_stampBefore{};  // taken before the window's own write
  QTimer m_refreshTimer;
};

// Products hidden by the unique key index: live products whose key repeats an
// earlier one's. Reads the table in order of entry through a table of its own.
int ProductsLeftOutOfKeyOrder(const std::string& directory = {});

// Creates the window over `mainForm`: Product > Catalog shows it, Build Local
// walks its table while it is open, Create New Database and a folder switch
// close its table first. The main window owns it.
TcatdatForm* InstallProductWindow(TCatMainForm& mainForm);

}  // namespace qm::gui
