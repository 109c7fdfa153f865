#include "app/gui/product_form.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QTableView>
#include <QVBoxLayout>

#include <unordered_set>

#include "app/core/engine_record_source.h"
#include "app/core/next_steps.h"
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

}  // namespace

TcatdatForm::TcatdatForm(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(QStringLiteral("Quillmart - Product Database"));
  index::TBrambleDataSet& ds = m_products.DataSet();
  m_model = new DataSetTableModel(ds, this);
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
  connect(m_grid->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) {
            if (!m_following && current.isValid() && current.row() != m_model->CurrentRow())
              m_model->SetCurrentRow(current.row());
          });
  connect(m_model, &DataSetTableModel::errorOccurred, this, &TcatdatForm::ShowError);
  connect(m_navigator, &DataSetNavigator::errorOccurred, this, &TcatdatForm::ShowError);
  connect(m_memo, &DataSetMemoEdit::errorOccurred, this, &TcatdatForm::ShowError);
  // A new or changed key may repeat another: the count of hidden products is
  // taken again then (a walk of the whole table), not after every other post.
  ds.AfterEdit = [this](index::TDataSet&) { m_keyBeforeEdit = m_products.KeyField().AsString(); };
  ds.AfterInsert = [this](index::TDataSet&) { m_keyBeforeEdit.reset(); };
  ds.AfterPost = [this](index::TDataSet&) {
    if (!m_keyBeforeEdit || *m_keyBeforeEdit != m_products.KeyField().AsString()) UpdateStatusLine();
  };
  ds.AfterDelete = [this](index::TDataSet&) { UpdateStatusLine(); };

  m_grid->setMinimumHeight(kMiddleHeight / 2);
  resize(QSize(kStartWidth, kStartHeight).expandedTo(minimumSizeHint()));  // centred by its first show
}

TcatdatForm::~TcatdatForm() {
  m_products.DataSet().AfterEdit = nullptr;
  m_products.DataSet().AfterInsert = nullptr;
  m_products.DataSet().AfterPost = nullptr;
  m_products.DataSet().AfterDelete = nullptr;
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
    m_products.EnsureIndex(true);
  } catch (const std::exception& e) {
    ShowError(QString::fromUtf8(e.what()));  // the table stays open in order of entry
    m_products.DataSet().First();
  }
  m_model->Reload();
  SizeColumns();
  m_grid->setEnabled(true);
  ShowCurrentRow(m_model->CurrentRow());
  UpdateStatusLine();
}

// Columns as wide as their field (up to a limit) or their title, whichever is wider.
void TcatdatForm::SizeColumns() {
  index::TBrambleDataSet& ds = m_products.DataSet();
  const int charWidth = m_grid->fontMetrics().averageCharWidth();
  for (int column = 0; column < ds.FieldCount() && column < m_model->columnCount(); ++column) {
    const index::TField& field = ds.Fields(column);
    const int chars = field.DataType() == index::TFieldType::ftString ? std::min(field.Size(), kWidestColumnChars) : 6;
    const int title = m_grid->horizontalHeader()->fontMetrics().horizontalAdvance(
                          QString::fromStdString(field.FieldName())) + 16;
    m_grid->setColumnWidth(column, std::max(title, (chars + 1) * charWidth + 8));
  }
}

// The grid's current cell follows the dataset's record, scrolled into view.
void TcatdatForm::ShowCurrentRow(int row) {
  if (row < 0 || row >= m_model->rowCount()) return;
  const int column = std::max(0, m_grid->currentIndex().column());
  const QModelIndex target = m_model->index(row, column);
  m_following = true;
  if (m_grid->currentIndex() != target) m_grid->setCurrentIndex(target);
  m_following = false;
  m_grid->scrollTo(target);
}

void TcatdatForm::InsertDefaultText() { m_memo->setPlainText(m_defaultText); }

// What the user typed is posted first, not dropped with the table; a refused
// post keeps the window open on the product so that it can be corrected.
void TcatdatForm::CloseAndHide() {
  index::TBrambleDataSet& ds = m_products.DataSet();
  if (ds.State() == index::TDataSetState::dsEdit || ds.State() == index::TDataSetState::dsInsert) {
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
  m_products.Close();
  m_status->clear();
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
  index::TBrambleDataSet& ds = table.DataSet();
  index::TField& key = table.KeyField();
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
  QObject::connect(mainForm.SetupForm(), &TSetupForm::ProductTableMustClose, window, &TcatdatForm::CloseTable);
  QObject::connect(&mainForm, &TCatMainForm::WorkFolderChanged, window, [window] {
    window->CloseTable();
    window->hide();
  });
  return window;
}

}  // namespace qm::gui
