#include "app/gui/database_help.h"

#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace qm::gui {

namespace {

// Blanks at the ends of lines belong to the text.
const char* const kHelpLines[] = {
    "The Setup window lets you create a catalog database file that will be used for ",
    "creating your online catalog.",
    "",
    "The database can contain anywhere from 1 to 5 fields in each record.",
    "",
    "There are two parts to creating a database:",
    "",
    "1) Create the \"Table Headings\" which will be headings displayed in your ",
    "    online html table. This information is stored in an INI file along with the ",
    "    other information you've created for \"Company Info\", \"Web Page Setup\",",
    "    \"Table Setup\" and \"Site Setup\". These table headings can be in upper ",
    "    and lower case and can contain spaces between words.",
    "",
    "2) Create the actual \"catalog.dbf\" file. To create the dbf file, you need to",
    "    describe the fields within the database file. All fields are stored as character",
    "    fields. You need to assign a Field Name to each field in the database. ",
    "    Each field name can be up to 8 characters in length and cannot contain",
    "    any spaces. They are stored in upper case, regardless how you enter them",
    "    here and will be displayed when you are editing your database as column",
    "    headings. Each field in the databae needs to be assigned a \"Field Width\".",
    "   This can contain a number not to exceed \"255\". ",
    "",
    "Steps for Creating the Database:",
    "",
    "1) Fill in the Table Headings for each field you want in the database as described",
    "    above.",
    "",
    "2) Assign a Field Width for each field in the database.",
    "",
    "3) Assign a DBF field name as described above for each field.",
    "",
    "4) Click \"Create New Database\" button to create the database.",
    "",
    "5) Click the \"Save Setup\" button to record the Table Headings in the INI file.",
    "",
    "TAKE NOTE:",
    "",
    "If you already have created a database file, clicking on the \"Create New Database\"",
    "button will overwrite your database file (catalog.dbf) and erase any data it ",
    "contains. So be careful! Only use this button if you are indeed creating a ",
    "new database for the first time or you find you need to change fields in an ",
    "existing database file.",
    "",
    "Changing Table Headings DOES NOT eliminate existing data in your database ",
    "file. It simply changes the headings that will be created in your HTM file's table ",
    "listing. You should not have more Table Headings than you have actual fields",
    "in the DBF file! Clicking the \"Save Setup\" button saves any changes made ",
    "in all the various pages of the Setup window including these Table Heading ",
    "changes.",
    "",
    "The first field in the database is the KEY FIELD and an index is created",
    "based on this field. This means your database will be automatically sorted",
    "on Field One and each entry in this field MUST BE UNIQUE. So this is the",
    "field you'd use to enter things like SKU numbers, catalog numbers, part numbers",
    "or whatever other information that can be unique and will be the basis on ",
    "which you sort your database.",
    "",
    "The KEY FIELD is created in any new database automatically. Entries in ",
    "your database for this field become hyper-linked to Stacked Pages if you",
    "tell the program you want to create Stacked Pages.",
    "",
};

}  // namespace

QStringList DatabaseHelpLines() {
  QStringList lines;
  for (const char* line : kHelpLines) lines << QString::fromLatin1(line);
  return lines;
}

THelpForm::THelpForm(QWidget* parent) : QWidget(parent, Qt::Window), m_memo(new QPlainTextEdit(this)) {
  setWindowTitle(QStringLiteral("Help on Database Creation"));
  m_memo->setReadOnly(true);
  m_memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m_memo->setStyleSheet(QStringLiteral("QPlainTextEdit { background: white; color: black; }"));
  QFont arial(QStringLiteral("Arial"));
  arial.setStyleHint(QFont::SansSerif);
  m_memo->setFont(arial);
  m_memo->setPlainText(DatabaseHelpLines().join(u'\n'));

  auto* ok = new QPushButton(tr("OK"), this);
  connect(ok, &QPushButton::clicked, this, &QWidget::hide);
  // Escape closes it too, as it closes the dialogs beside it.
  connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &QWidget::hide);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_memo, 1);
  layout->addLayout(buttons);
  resize(476, 400);
}

}  // namespace qm::gui
