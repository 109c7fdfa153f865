#include "app/gui/product_form.h"

#include <QAbstractItemDelegate>
#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>

#include <sys/stat.h>

#include <unordered_set>

#include "app/core/engine_record_source.h"
#include "app/core/next_steps.h"
#include "app/core/product_key.h"
#include "app/core/settings_store.h"
#include "app/gui/dataset_memo_edit.h"
#include "app/gui/dataset_navigator.h"
#include "app/gui/dataset_table_model.h"
#include "app/gui/error_box.h"
#include "app/gui/main_window.h"
#include "app/gui/setup_form.h"

namespace qm::gui {

namespace {

constexpr int kStartWidth = 688;
constexpr int kStartHeight = 344;
constexpr int kMemoWidth = 219;
constexpr int kMemoChars = 30;  // the width grows with a larger font
constexpr int kMiddleHeight = 232;
constexpr int kNavigatorWidth = 400;
constexpr int kNavigatorHeight = 33;
constexpr int kWidestColumnChars = 40;  // a 255-character field still leaves room for the others
constexpr int kWideKeyChars = 16;       // up to this width a key column fits its widest letters
constexpr int kRefreshMilliseconds = 1000;

}  // namespace

TcatdatForm::TcatdatForm(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(QStringLiteral("Quillmart - Product Database"));
  dataset::TBrambleDataSet& ds = m_products.DataSet();
  m_model = new DataSetTableModel(ds, this);
  TrackModelChanges();  // before the grid's own selection model hears of them
  m_grid = new QTableView(this);
  m_grid->setModel(m_model);
  m_grid->setEnabled(false);  // until the table is open in key order
  m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
  m_grid->verticalHeader()->setDefaultSectionSize(m_grid->fontMetrics().height() + 6);
  m_memo = new DataSetMemoEdit(ds, catalog::kProductMemoField, this);
  m_memo->setFixedWidth(MemoWidth());
  m_memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  auto* middle = new QHBoxLayout;
  middle->addWidget(m_memo);
  middle->addWidget(m_grid, 1);
  m_status = new QLabel(this);
  m_status->setObjectName(QStringLiteral("statusLine"));

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 2);
  layout->addWidget(CreateLabels());
  layout->addLayout(middle, 1);
  layout->addWidget(CreateButtons());
  layout->addWidget(m_status);

  connect(m_model, &DataSetTableModel::currentRowChanged, this, &TcatdatForm::ShowCurrentRow);
  connect(m_grid->selectionModel(), &QItemSelectionModel::currentChanged, this, &TcatdatForm::FollowGridCurrent);
  connect(m_model, &DataSetTableModel::errorOccurred, this, &TcatdatForm::ShowError);
  connect(m_navigator, &DataSetNavigator::errorOccurred, this, &TcatdatForm::ShowError);
  connect(m_memo, &DataSetMemoEdit::errorOccurred, this, &TcatdatForm::ShowError);
  m_grid->installEventFilter(this);
  WireDataSetEvents();
  m_refreshTimer.setInterval(kRefreshMilliseconds);
  connect(&m_refreshTimer, &QTimer::timeout, this, &TcatdatForm::RefreshIfChangedOutside);

  m_grid->setMinimumHeight(kMiddleHeight / 2);
  resize(QSize(kStartWidth, kStartHeight).expandedTo(minimumSizeHint()));  // centred by its first show
}

// Rows the model adds, removes or fetches again move the grid's current cell on
// their own; only the model's currentRowChanged says where the product is.
void TcatdatForm::TrackModelChanges() {
  for (auto about : {&QAbstractItemModel::rowsAboutToBeRemoved, &QAbstractItemModel::rowsAboutToBeInserted})
    connect(m_model, about, this, [this] { m_modelChanging = true; });
  for (auto done : {&QAbstractItemModel::rowsRemoved, &QAbstractItemModel::rowsInserted})
    connect(m_model, done, this, [this] { m_modelChanging = false; });
  connect(m_model, &QAbstractItemModel::modelAboutToBeReset, this, [this] { m_modelChanging = true; });
  connect(m_model, &QAbstractItemModel::modelReset, this, [this] { m_modelChanging = false; });
}

// The user moved the grid's current cell: the dataset follows to that row.
void TcatdatForm::FollowGridCurrent(const QModelIndex& current) {
  if (!current.isValid() || m_following || m_modelChanging) return;
  m_column = current.column();
  if (current.row() == m_model->CurrentRow()) return;
  if (!m_model->SetCurrentRow(current.row())) {
    // Refused (a post that failed, a product gone): the grid goes back to
    // the dataset's product, also after the click that asked has ended.
    ShowCurrentRow(m_model->CurrentRow());
    QTimer::singleShot(0, this, [this] { ShowCurrentRow(m_model->CurrentRow()); });
  }
}

// The data-aware widgets go before the product table they are linked to.
TcatdatForm::~TcatdatForm() {
  m_refreshTimer.stop();
  dataset::TBrambleDataSet& ds = m_products.DataSet();
  for (dataset::TDataSetNotify* event : {&ds.AfterEdit, &ds.AfterInsert, &ds.BeforePost, &ds.AfterPost,
                                       &ds.BeforeDelete, &ds.AfterDelete})
    *event = nullptr;
  delete m_grid;
  delete m_model;
  delete m_memo;
  delete m_navigator;
}

void TcatdatForm::WireDataSetEvents() {
  dataset::TBrambleDataSet& ds = m_products.DataSet();
  // A new or changed key may repeat another: the count of hidden products is
  // taken again then (a walk of the whole table), not after every other post.
  ds.AfterEdit = [this](dataset::TDataSet&) { m_keyBeforeEdit = m_products.KeyField().AsString(); };
  ds.AfterInsert = [this](dataset::TDataSet&) {
    m_keyBeforeEdit.reset();
    // The new product's key is typed first, in the grid.
    m_column = 0;
    ShowCurrentRow(m_model->CurrentRow());
    m_grid->setFocus();
  };
  // A new key, or a key changed, must be one a product can have; an older
  // product keeps its key while other fields are edited.
  ds.BeforePost = [this](dataset::TDataSet&) {
    dataset::TField& key = m_products.KeyField();
    if (!m_keyBeforeEdit || *m_keyBeforeEdit != key.AsString()) catalog::CheckProductKey(key.AsString(), key.FieldName());
    m_stampBefore = CurrentTableStamp();
  };
  ds.AfterPost = [this](dataset::TDataSet&) {
    if (m_stampBefore == m_seenStamp) m_seenStamp = CurrentTableStamp();
    if (!m_keyBeforeEdit || *m_keyBeforeEdit != m_products.KeyField().AsString()) UpdateStatusLine();
  };
  ds.BeforeDelete = [this](dataset::TDataSet&) { m_stampBefore = CurrentTableStamp(); };
  ds.AfterDelete = [this](dataset::TDataSet&) {
    if (m_stampBefore == m_seenStamp) m_seenStamp = CurrentTableStamp();
    UpdateStatusLine();
  };
}

int TcatdatForm::MemoWidth() const { return std::max(kMemoWidth, kMemoChars * fontMetrics().averageCharWidth()); }

QWidget* TcatdatForm::CreateLabels() {
  auto* strip = new QWidget(this);
  auto* row = new QHBoxLayout(strip);
  row->setContentsMargins(0, 0, 0, 0);
  auto* memoLabel = new QLabel(tr("Stacked Pages Text"), strip);
  memoLabel->setFixedWidth(MemoWidth());
  row->addWidget(memoLabel);
  row->addWidget(new QLabel(tr("Database Fields - Index on First Field"), strip), 1);
  return strip;
}

QWidget* TcatdatForm::CreateButtons() {
  auto* strip = new QWidget(this);
  auto* row = new QHBoxLayout(strip);
  row->setContentsMargins(0, 0, 0, 0);
  m_navigator = new DataSetNavigator(m_products.DataSet(), strip);
  m_navigator->setMinimumSize(kNavigatorWidth, kNavigatorHeight);
  m_navigator->ConfirmDelete = [this] {
    return QMessageBox::question(this, windowTitle(), tr("Delete this product?")) == QMessageBox::Yes;
  };
  row->addWidget(m_navigator);
  auto* insert = new QPushButton(tr("Insert Default Text"), strip);
  insert->setToolTip(tr("Inserts Defined Text from your Setup"));
  connect(insert, &QPushButton::clicked, this, &TcatdatForm::InsertDefaultText);
  row->addWidget(insert);
  auto* close = new QPushButton(tr("Close"), strip);
  connect(close, &QPushButton::clicked, this, &TcatdatForm::CloseAndHide);
  row->addWidget(close);
  row->addStretch(1);
  return strip;
}

void TcatdatForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // A window restored from the task bar keeps its table and cursor as they were.
  if (!event->spontaneous()) OpenProducts();
}

void TcatdatForm::OpenProducts() {
  try {
    catalog::SettingsStore store;
    m_defaultText = store.ReadString(QLatin1String(catalog::settings::kStackedPages),
                                     QLatin1String(catalog::settings::kStackedText), m_defaultText);
  } catch (const std::exception& e) {
    ShowError(QString::fromUtf8(e.what()));
  }
  try {
    m_products.Open(catalog::ProductOrder::Entry);
  } catch (const std::exception& e) {
    // The grid stays disabled.
    ShowApplicationError(this, QString::fromUtf8(e.what()),
                         QString::fromStdString(catalog::MissingTableStep(catalog::FrontEnd::Window)));
    return;
  }
  try {
    // Rebuilt on every show: the table may have changed in any way since.
    m_products.EnsureIndex(catalog::IndexRebuild::Always);
  } catch (const std::exception& e) {
    ShowError(QString::fromUtf8(e.what()));  // the table stays open in order of entry
    m_products.DataSet().First();
  }
  m_model->SetOrderColumn(m_products.DataSet().IndexName().empty() ? -1 : 0);
  m_model->Reload();
  SizeColumns();
  m_grid->setEnabled(true);
  ShowCurrentRow(m_model->CurrentRow());
  UpdateStatusLine();
  m_seenStamp = CurrentTableStamp();
  m_refreshTimer.start();
}

// Columns as wide as their field (up to a limit) or their title, whichever
// is wider; a short key column fits its widest letters, so a key is never cut.
void TcatdatForm::SizeColumns() {
  dataset::TBrambleDataSet& ds = m_products.DataSet();
  const QFontMetrics metrics = m_grid->fontMetrics();
  const int margins = 2 * (m_grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_grid) + 1) + 8;
  for (int column = 0; column < ds.FieldCount() && column < m_model->columnCount(); ++column) {
    const dataset::TField& field = ds.Fields(column);
    const int chars = field.DataType() == dataset::TFieldType::ftString ? std::min(field.Size(), kWidestColumnChars) : 6;
    const int text = column == 0 && chars <= kWideKeyChars
                         ? metrics.horizontalAdvance(QString(chars, QLatin1Char('W')))
                         : std::max(metrics.horizontalAdvance(QString(chars, QLatin1Char('0'))),
                                    chars * metrics.averageCharWidth());
    const int title = m_grid->horizontalHeader()->fontMetrics().horizontalAdvance(
                          QString::fromStdString(field.FieldName())) + 16;
    m_grid->setColumnWidth(column, std::max(title, text + margins));
  }
}

// The grid's current cell follows the dataset's record, in the column the
// user works in, selected and scrolled into view.
void TcatdatForm::ShowCurrentRow(int row) {
  if (row < 0 || row >= m_model->rowCount()) return;
  const int column = std::clamp(m_column, 0, std::max(0, m_model->columnCount() - 1));
  const QModelIndex target = m_model->index(row, column);
  m_following = true;
  if (m_grid->currentIndex() != target || !m_grid->selectionModel()->isSelected(target))
    m_grid->selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect);
  m_following = false;
  m_grid->scrollTo(target);
}

void TcatdatForm::InsertDefaultText() { m_memo->setPlainText(m_defaultText); }

// What the user typed is posted first, not dropped with the table; a refused
// post keeps the window open on the product so that it can be corrected.
void TcatdatForm::CloseAndHide() {
  dataset::TBrambleDataSet& ds = m_products.DataSet();
  if (ds.State() == dataset::TDataSetState::dsEdit || ds.State() == dataset::TDataSetState::dsInsert) {
    try {
      ds.Post();
    } catch (const std::exception& e) {
      ShowError(QString::fromUtf8(e.what()));
      return;
    }
  }
  CloseTable();
  hide();
}

void TcatdatForm::CloseTable() {
  m_refreshTimer.stop();
  m_products.Close();
  m_status->clear();
}

TcatdatForm::TableStamp TcatdatForm::CurrentTableStamp() const {
  TableStamp stamp{};
  const std::string paths[] = {m_products.TablePath(), m_products.IndexPath()};
  for (int i = 0; i < 2; ++i) {
    struct stat info {};
    if (::stat(paths[i].c_str(), &info) != 0) continue;
    stamp[2 * i] = static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
    stamp[2 * i + 1] = static_cast<long long>(info.st_size);
  }
  return stamp;
}

// The table is opened afresh rather than re-read in place: another program
// may have appended, deleted or re-keyed products, and a fresh open sees the
// table and its index as they now are. The product that was current stays so
// while it is still listed.
bool TcatdatForm::RefreshIfChangedOutside() {
  if (!m_products.IsOpen() || !m_grid->isEnabled() || HasPendingEdit()) return false;
  // Not while a command runs (Build Local walks this table under its wait
  // cursor and repaints the windows meanwhile) or a box waits for an answer.
  if (QApplication::overrideCursor() != nullptr || QApplication::activeModalWidget() != nullptr) return false;
  const TableStamp now = CurrentTableStamp();
  if (now == m_seenStamp) return false;
  m_seenStamp = now;
  dataset::TBrambleDataSet& ds = m_products.DataSet();
  const dataset::TBookmark current = ds.GetBookmark();
  try {
    m_products.Open(m_products.Order());
    if (!current.empty()) ds.GotoBookmark(current);
  } catch (const std::exception& e) {
    ShowError(QString::fromUtf8(e.what()));
  }
  UpdateStatusLine();
  return true;
}

void TcatdatForm::SetRefreshInterval(int milliseconds) {
  m_refreshTimer.setInterval(std::max(0, milliseconds));
  if (milliseconds <= 0) m_refreshTimer.stop();
  else if (m_products.IsOpen()) m_refreshTimer.start();
}

// The editor a typed key or a double-click opened on the current cell; null when none is open.
QWidget* TcatdatForm::CellEditor() const { return m_grid->indexWidget(m_grid->currentIndex()); }

bool TcatdatForm::HasPendingEdit() const {
  if (CellEditor() != nullptr) return true;
  const dataset::TDataSetState state = const_cast<catalog::ProductTable&>(m_products).DataSet().State();
  return state == dataset::TDataSetState::dsEdit || state == dataset::TDataSetState::dsInsert;
}

bool TcatdatForm::SavePendingEdit() {
  if (QWidget* editor = CellEditor()) {
    QAbstractItemDelegate* delegate = m_grid->itemDelegateForIndex(m_grid->currentIndex());
    emit delegate->commitData(editor);
    emit delegate->closeEditor(editor);
  }
  dataset::TBrambleDataSet& ds = m_products.DataSet();
  if (ds.State() != dataset::TDataSetState::dsEdit && ds.State() != dataset::TDataSetState::dsInsert) return true;
  try {
    ds.Post();
    return true;
  } catch (const std::exception& e) {
    ShowError(QString::fromUtf8(e.what()));
    return false;
  }
}

void TcatdatForm::DiscardPendingEdit() {
  if (QWidget* editor = CellEditor())
    emit m_grid->itemDelegateForIndex(m_grid->currentIndex())->closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
  try {
    m_products.DataSet().Cancel();
  } catch (const std::exception& e) {
    ShowError(QString::fromUtf8(e.what()));
  }
}

// Nothing the user typed is dropped without asking.
bool TcatdatForm::MayExit() {
  if (!HasPendingEdit()) return true;
  QMessageBox box(QMessageBox::Question, windowTitle(),
                  tr("The product you are editing has changes that are not saved yet. Save them before "
                     "Quillmart ends?"),
                  QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
  box.setDefaultButton(QMessageBox::Save);
  switch (box.exec()) {
    case QMessageBox::Save: return SavePendingEdit();
    case QMessageBox::Discard: DiscardPendingEdit(); return true;
    default: return false;
  }
}

// Another program's changes are shown when the user comes back to the window.
void TcatdatForm::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) RefreshIfChangedOutside();
}

bool TcatdatForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_grid && event->type() == QEvent::KeyPress && CellEditor() == nullptr) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (GridKey(key->key(), key->modifiers())) return true;
  }
  return QWidget::eventFilter(watched, event);
}

// The grid's own keys for what the navigator's buttons do; false: the grid's default.
bool TcatdatForm::GridKey(int key, Qt::KeyboardModifiers modifiers) {
  const bool ctrl = modifiers & Qt::ControlModifier;
  const dataset::TDataSetState state = m_products.DataSet().State();
  const bool editing = state == dataset::TDataSetState::dsEdit || state == dataset::TDataSetState::dsInsert;
  if (key == Qt::Key_Insert && !ctrl) m_navigator->Click(DataSetNavigator::Insert);
  else if (key == Qt::Key_Delete && ctrl) m_navigator->Click(DataSetNavigator::Delete);
  else if (key == Qt::Key_End && ctrl) m_navigator->Click(DataSetNavigator::Last);
  else if (key == Qt::Key_Home && ctrl) m_navigator->Click(DataSetNavigator::First);
  else if ((key == Qt::Key_Return || key == Qt::Key_Enter) && editing) m_navigator->Click(DataSetNavigator::Post);
  else if (key == Qt::Key_Escape && editing) m_navigator->Click(DataSetNavigator::Cancel);
  else return false;
  return true;
}

void TcatdatForm::UpdateStatusLine() {
  int leftOut = 0;
  try {
    if (m_products.IsOpen()) leftOut = ProductsLeftOutOfKeyOrder();
  } catch (const std::exception&) {
    leftOut = 0;  // the count is a courtesy; the table's own errors come from the table
  }
  if (leftOut == 0) {
    m_status->clear();
  } else {
    m_status->setText(leftOut == 1 ? tr("1 product not listed: its key repeats an earlier product's key "
                                        "(keys must be unique)")
                                   : tr("%1 products not listed: their keys repeat earlier products' keys "
                                        "(keys must be unique)").arg(leftOut));
  }
}

void TcatdatForm::ShowError(const QString& text) { ShowApplicationError(this, text); }

int ProductsLeftOutOfKeyOrder(const std::string& directory) {
  catalog::ProductTable table(directory);
  table.Open(catalog::ProductOrder::Entry, true);
  dataset::TBrambleDataSet& ds = table.DataSet();
  dataset::TField& key = table.KeyField();
  std::unordered_set<std::string> keys;
  int products = 0;
  for (ds.First(); !ds.Eof(); ds.Next()) {
    ++products;
    keys.insert(key.AsString());
  }
  return products - static_cast<int>(keys.size());
}

TcatdatForm* InstallProductWindow(TCatMainForm& mainForm) {
  auto* window = new TcatdatForm(&mainForm);
  mainForm.InstallCatalogWindow(window);
  mainForm.SetRecordSourceFactory([window]() -> std::unique_ptr<catalog::RecordSource> {
    // While the window has the table open, Build Local walks it in the window's order.
    if (window->Products().IsOpen())
      return std::make_unique<catalog::EngineRecordSource>(window->Products().DataSet());
    return std::make_unique<catalog::EngineRecordSource>();
  });
  mainForm.AddExitGuard([window] { return window->MayExit(); });
  QObject::connect(mainForm.SetupForm(), &TSetupForm::ProductTableMustClose, window, &TcatdatForm::CloseTable);
  QObject::connect(&mainForm, &TCatMainForm::WorkFolderChanged, window, [window] {
    window->CloseTable();
    window->hide();
  });
  return window;
}

}  // namespace qm::gui
