// The six tabs of the setup dialog and its buttons. Controls are created in
// the order the keyboard visits them.
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "app/core/product_table.h"
#include "app/core/settings_store.h"
#include "app/core/upload_command.h"
#include "app/gui/database_help.h"
#include "app/gui/error_box.h"
#include "app/gui/setup_form.h"

namespace qm::gui {

namespace {

namespace settings = catalog::settings;

constexpr int kParagraphLimit = 255;  // characters as stored, a line break counting two (CR LF)
const char* const kRowCaptions[kNewFieldRows] = {"Field One", "Field Two", "Field Three", "Field Four",
                                                 "Field Five"};
const QColor kMaroon(128, 0, 0);

QLabel* Label(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  return label;
}

QLabel* StyledLabel(const QString& text, QWidget* parent, bool bold, const QColor& color = {}) {
  QLabel* label = Label(text, parent);
  QFont font = label->font();
  font.setBold(bold);
  label->setFont(font);
  if (color.isValid()) {
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, color);
    label->setPalette(pal);
  }
  return label;
}

// Typing stops at the limit; a text loaded from the store is shown whole.
void LimitStoredLength(QPlainTextEdit* memo, const bool* loading) {
  QObject::connect(memo, &QPlainTextEdit::textChanged, memo, [memo, loading] {
    if (*loading) return;
    const auto stored = [memo] {
      const QString t = memo->toPlainText();
      return t.size() + t.count(u'\n');
    };
    if (stored() <= kParagraphLimit) return;
    const QSignalBlocker block(memo);
    QTextCursor cursor = memo->textCursor();
    while (stored() > kParagraphLimit && cursor.position() > 0) cursor.deletePreviousChar();
    memo->setTextCursor(cursor);
  });
}

}  // namespace

QLineEdit* TSetupForm::AddEdit(const char* section, const char* ident) {
  auto* edit = new QLineEdit;
  edit->setObjectName(QLatin1String(ident));
  m_bindings.push_back({section, ident, edit});
  return edit;
}

// The value stored is the choice's own word ("passive"); a value the store
// does not know shows the default.
QComboBox* TSetupForm::AddChoice(const char* section, const char* ident, const char* byDefault,
                                 const std::vector<std::pair<const char*, QString>>& choices) {
  auto* box = new QComboBox;
  box->setObjectName(QLatin1String(ident));
  for (const auto& [value, caption] : choices) box->addItem(caption, QLatin1String(value));
  box->setCurrentIndex(box->findData(QLatin1String(byDefault)));
  m_bindings.push_back({section, ident, box, byDefault});
  return box;
}

QLineEdit* TSetupForm::AddColorEdit(const char* section, const char* ident, QPushButton* button) {
  QLineEdit* edit = AddEdit(section, ident);
  edit->setEnabled(false);  // takes only what the picker puts on the clipboard
  connect(button, &QPushButton::clicked, this, [this, edit] { PickColor(edit); });
  return edit;
}

QWidget* TSetupForm::CreateCompanyTab() {
  auto* page = new QWidget;
  auto* form = new QFormLayout(page);
  const char* s = settings::kCompanyInfo;
  form->addRow(Label(tr("Company Name"), page), AddEdit(s, "Name"));
  form->addRow(Label(tr("Company Address"), page), AddEdit(s, "Address"));
  form->addRow(Label(tr("City"), page), AddEdit(s, "City"));
  QLineEdit* prov = AddEdit(s, "Prov");
  // Narrow: a province or state code of two or three letters.
  prov->setMaximumWidth(prov->fontMetrics().horizontalAdvance(QStringLiteral("WWW")) + 12);
  form->addRow(Label(tr("Prov/State"), page), prov);
  form->addRow(Label(tr("Postal Code/ZIP"), page), AddEdit(s, "Pcode"));
  form->addRow(Label(tr("Telephone"), page), AddEdit(s, "Tel"));
  form->addRow(Label(tr("E-Mail"), page), AddEdit(s, "Email"));
  return page;
}

QWidget* TSetupForm::CreateWebPageTab() {
  auto* page = new QWidget;
  auto* form = new QFormLayout(page);
  const char* s = settings::kWebPageSetup;
  form->addRow(Label(tr("Page Title"), page), AddEdit(s, "pagetitle"));
  for (const auto& [caption, ident] : {std::pair{"Page Color", "pagecolor"}, {"Font Color", "pagefontcolor"}}) {
    auto* button = new QPushButton(tr(caption), page);
    form->addRow(button, AddColorEdit(s, ident, button));
  }
  form->addRow(Label(tr("Main Heading"), page), AddEdit(s, "pageheading"));
  QLabel* note = Label(tr("Enter a short paragraph here that you want displayed on your catalog page."), page);
  note->setWordWrap(true);
  form->addRow(note);
  m_paragraph = new QPlainTextEdit(page);
  m_paragraph->setObjectName(QStringLiteral("pageparagraph"));
  m_paragraph->setTabChangesFocus(true);
  LimitStoredLength(m_paragraph, &m_loading);
  m_bindings.push_back({s, "pageparagraph", m_paragraph});
  form->addRow(m_paragraph);
  return page;
}

QWidget* TSetupForm::CreateTableTab() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  const char* s = settings::kTableSetup;
  const auto group = [&](const QString& title, const char* fontIdent, const char* backIdent) {
    auto* box = new QGroupBox(title, page);
    auto* form = new QFormLayout(box);
    auto* font = new QPushButton(tr("Font Color"), box);
    form->addRow(font, AddColorEdit(s, fontIdent, font));
    auto* back = new QPushButton(tr("Bkgrnd Color"), box);
    form->addRow(back, AddColorEdit(s, backIdent, back));
    layout->addWidget(box);
  };
  group(tr("Table Heading Colors"), "tableheadingfontcolor", "tableheadingbkcolor");
  group(tr("Table Cell Colors"), "tablecellfontcolor", "tablecellbkcolor");
  layout->addStretch(1);
  return page;
}

QFormLayout* TSetupForm::CreateTransferChoices(QWidget* page) {
  const char* s = settings::kSiteSetup;
  auto* transfer = new QFormLayout;
  transfer->addRow(Label(tr("Data Connection"), page),
                   AddChoice(s, catalog::kConnectionModeIdent, "automatic",
                             {{"automatic", tr("Automatic (try passive, then active)")},
                              {"passive", tr("Passive")},
                              {"active", tr("Active")}}));
  transfer->addRow(Label(tr("Encryption (TLS)"), page),
                   AddChoice(s, catalog::kTlsIdent, "if offered",
                             {{"required", tr("Required")},
                              {"if offered", tr("If the server offers it")},
                              {"plain", tr("None (password sent in clear)")}}));
  // Every number the upload takes is offered, so that one set by the command
  // line is shown as it is and kept when the dialog is saved.
  std::vector<std::string> numbers;
  for (int n = 1; n <= catalog::kMostConnections; ++n) numbers.push_back(std::to_string(n));
  std::vector<std::pair<const char*, QString>> counts;
  for (const std::string& n : numbers) counts.emplace_back(n.c_str(), QString::fromStdString(n));
  counts[0].second = tr("1 (one file at a time)");
  counts[catalog::kDefaultConnections - 1].second = tr("%1 (files sent at once)").arg(catalog::kDefaultConnections);
  transfer->addRow(Label(tr("Connections"), page), AddChoice(s, catalog::kConnectionsIdent, "4", counts));
  return transfer;
}

QWidget* TSetupForm::CreateSiteTab() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  auto* form = new QFormLayout;
  const char* s = settings::kSiteSetup;
  form->addRow(Label(tr("Remote Address"), page), AddEdit(s, settings::kRemoteAddress));
  form->addRow(Label(tr("User Name"), page), AddEdit(s, settings::kUserName));
  form->addRow(StyledLabel(tr("Remote Directory *"), page, true), AddEdit(s, settings::kRemoteDirectory));
  // Shown in clear, as the user typed it.
  form->addRow(Label(tr("Login Password"), page), AddEdit(s, settings::kRemotePassword));
  layout->addLayout(form);
  QLabel* note = StyledLabel(tr("* The \"Remote Directory\" must exist on your Web site before uploading."), page, true);
  note->setWordWrap(true);
  layout->addWidget(note);
  layout->addLayout(CreateTransferChoices(page));
  m_siteActions = new QHBoxLayout;
  m_siteActions->addStretch(1);
  auto* test = new QPushButton(tr("Test connection"), page);
  test->setToolTip(tr("Connect and log in with the values above, and say what works"));
  connect(test, &QPushButton::clicked, this, &TSetupForm::TestConnection);
  m_siteActions->addWidget(test);
  layout->addLayout(m_siteActions);
  layout->addStretch(1);
  return page;
}

QWidget* TSetupForm::CreateDatabaseTab() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(Label(tr("Here you can setup your catalog database.  Click on Help for more information ."), page));
  auto* keyNote = new QHBoxLayout;
  keyNote->addWidget(StyledLabel(tr("(Field One)"), page, false, kMaroon));
  keyNote->addWidget(Label(tr("will be INDEXED on an unique key field."), page));
  keyNote->addStretch(1);
  layout->addLayout(keyNote);

  layout->addLayout(CreateFieldRows(page));

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(Label(tr("Database Name"), page));
  auto* tableName = new QLineEdit(QString::fromLatin1(catalog::kProductTableName), page);
  tableName->setEnabled(false);
  bottom->addWidget(tableName);
  auto* help = new QPushButton(style()->standardIcon(QStyle::SP_DialogHelpButton), tr("&Help"), page);
  help->setToolTip(tr("Information on Creating a Database"));
  connect(help, &QPushButton::clicked, this, [this] { ShowWindowInFront(m_help); });
  bottom->addWidget(help);
  auto* create = new QPushButton(tr("Create New Database"), page);
  create->setToolTip(tr("**WARNING** will overwrite existing database"));
  connect(create, &QPushButton::clicked, this, &TSetupForm::CreateNewDatabase);
  bottom->addWidget(create);
  layout->addLayout(bottom);
  layout->addStretch(1);
  return page;
}

QGridLayout* TSetupForm::CreateFieldRows(QWidget* page) {
  auto* grid = new QGridLayout;
  grid->addWidget(Label(tr("Table Headings"), page), 0, 1);
  grid->addWidget(Label(tr("Field Widths"), page), 0, 2);
  grid->addWidget(Label(tr("DBF Field Names"), page), 0, 3);
  for (int k = 0; k < kNewFieldRows; ++k) {
    grid->addWidget(StyledLabel(tr(kRowCaptions[k]), page, false, k == 0 ? kMaroon : QColor()), k + 1, 0);
    m_headings[k] = new QLineEdit(page);
    m_headings[k]->setObjectName(QStringLiteral("Field%1").arg(k + 1));
    m_widths[k] = new QLineEdit(page);
    m_widths[k]->setObjectName(QStringLiteral("width%1").arg(k + 1));
    m_widths[k]->setMaximumWidth(m_widths[k]->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 12);
    m_names[k] = new QLineEdit(page);
    m_names[k]->setObjectName(QStringLiteral("dbfname%1").arg(k + 1));
    if (k > 0 && k < kNewFieldRows - 1) m_names[k]->setMaxLength(8);
    grid->addWidget(m_headings[k], k + 1, 1);
    grid->addWidget(m_widths[k], k + 1, 2);
    grid->addWidget(m_names[k], k + 1, 3);
  }
  // The key field is always there, eight characters wide.
  m_widths[0]->setText(QStringLiteral("8"));
  m_names[0]->setText(QStringLiteral("keyname"));
  m_names[0]->setMaxLength(10);
  m_widths[0]->setEnabled(false);
  m_names[0]->setEnabled(false);
  grid->setColumnStretch(1, 3);
  grid->setColumnStretch(3, 2);
  return grid;
}

QWidget* TSetupForm::CreateStackedTab() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  auto* question = new QHBoxLayout;
  question->addWidget(Label(tr("Do you want to generate stacked pages?"), page));
  m_useStacked = new QCheckBox(tr("Yes"), page);
  m_useStacked->setObjectName(QLatin1String(settings::kUseStackedPages));
  question->addWidget(m_useStacked);
  question->addStretch(1);
  layout->addLayout(question);
  for (const char* line : {"Each stacked page can have it's own text derived from the contents you place in",
                           "the Memo field of your database for each record, or you can use a default paragraph",
                           "entered below."})
    layout->addWidget(Label(tr(line), page));
  layout->addWidget(Label(tr("(You can place paragraph tags \"<P>\" within this text)"), page));
  auto* group = new QGroupBox(tr("Default Text"), page);
  auto* groupLayout = new QVBoxLayout(group);
  m_stackedText = new QPlainTextEdit(group);
  m_stackedText->setObjectName(QLatin1String(settings::kStackedText));
  m_stackedText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m_stackedText->setTabChangesFocus(true);
  groupLayout->addWidget(m_stackedText);
  layout->addWidget(group, 1);
  connect(m_useStacked, &QCheckBox::toggled, m_stackedText, &QWidget::setEnabled);
  return page;
}

QWidget* TSetupForm::CreateButtons() {
  auto* row = new QWidget(this);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addStretch(1);
  auto* save = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), tr("Save Setup"), row);
  save->setDefault(true);
  connect(save, &QPushButton::clicked, this, &TSetupForm::Save);
  auto* cancel = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), tr("Cancel"), row);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  layout->addWidget(save);
  layout->addWidget(cancel);
  return row;
}

}  // namespace qm::gui
