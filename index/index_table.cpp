// The ordered table: attached index files, tag selection and ordered movement.
#include "index/index_table.h"

#include <cstring>

#include "dbf/text_helpers.h"
#include "index/index_errors.h"
#include "index/ndx_key.h"

namespace qm::index {

namespace {

using dbf::UpperAscii;


std::string Extension(const std::string& path) {
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return UpperAscii(path.substr(dot));
}

}  // namespace

TbrIndexTable::TbrIndexTable(const std::string& path, uint8_t openMode)
    : TbrTable(path, openMode) {
  SetReadAhead(true);
}

TbrIndexTable::~TbrIndexTable() { CloseIndexFiles(); }

void TbrIndexTable::Report(int32_t code, int32_t subCode, const std::string& text) {
  SetLastCode(code);
  if (SuppressionCount() == 0) Error(code, subCode, text.empty() ? nullptr : text.c_str());
}

std::string TbrIndexTable::IndexPath(const std::string& name) const {
  std::string path(dbf::TrimWhitespace(name));
  size_t slash = path.rfind('/');
  size_t start = slash == std::string::npos ? 0 : slash + 1;
  path = path.substr(0, start) + UpperAscii(path.substr(start));
  if (slash == std::string::npos) {
    const std::string& table = Path();
    path = table.substr(0, table.rfind('/') + 1) + path;
  }
  if (Extension(path).empty()) path += ".NDX";
  return path;
}

int32_t TbrIndexTable::OpenIndexFile(const std::string& name) {
  std::string path = IndexPath(name);
  std::string resolved = dbf::NormalizePath(path);
  for (const Slot& slot : m_files) {
    if (slot.file->Path() == resolved) return 1;
  }
  if (Extension(path) != ".NDX" || static_cast<int>(m_files.size()) >= kMaxIndexFiles) {
    Report(code::kFileNotFound, subcode::kFileName, path);
    return code::kFileNotFound;
  }
  Slot slot;
  slot.file = std::make_unique<TbrNdxFile>(path, OpenMode(), this);
  slot.file->SetLockingProtocol(static_cast<int>(LockingProtocol()));
  bool opened;
  {
    dbf::TbrSuppressErrors quiet(*slot.file);
    opened = slot.file->Open();
  }
  if (!opened) {
    int32_t failure = slot.file->Exists() ? code::kSharing : code::kFileNotFound;
    Report(failure, subcode::kFileName, path);
    return failure;
  }
  if (!slot.file->ReadHeader()) return LastCode() != 0 ? LastCode() : code::kDamaged;
  std::string text;
  char type = 0;
  bool changed = false;
  TbrExprContext context{this, nullptr, slot.file->Geometry().keyLength, true, &OnFormula};
  if (!EvaluateExpression(context, slot.file->TagName(), slot.file->Expression(), text, type,
                          changed))
    return code::kExpression;
  if (type != 0) slot.file->SetKeyType(type);
  slot.tag = std::make_unique<TbrNdxTag>(*slot.file);
  m_files.push_back(std::move(slot));
  return 0;
}

int32_t TbrIndexTable::OpenIndexList(const std::string& list, const std::string& tag) {
  CloseIndexFiles();
  std::string name;
  bool quoted = false;
  auto flush = [&]() -> int32_t {
    int32_t result = name.empty() ? 0 : OpenIndexFile(name);
    name.clear();
    return result;
  };
  for (char c : list) {
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && (c == ' ' || (static_cast<unsigned char>(c) < 32))) {
      if (int32_t result = flush()) return result;
    } else {
      name += c;
    }
  }
  if (int32_t result = flush()) return result;
  SelectTag(tag, true);
  return 0;
}

void TbrIndexTable::CloseIndexFiles() {
  m_current = nullptr;
  for (Slot& slot : m_files) slot.file->Close();
  m_files.clear();
}

TbrNdxTag* TbrIndexTable::TagByNumber(int n) {
  return n >= 1 && n <= IndexFileCount() ? m_files[n - 1].tag.get() : nullptr;
}

std::string TbrIndexTable::CurrentTagName() const {
  return m_current != nullptr ? m_current->File().TagName() : std::string();
}

int TbrIndexTable::SelectTag(const std::string& name, bool keepPosition) {
  std::string wanted = UpperAscii(dbf::TrimWhitespace(name));
  for (size_t i = 0; i < m_files.size() && !wanted.empty(); ++i) {
    if (m_files[i].file->TagName() != wanted) continue;
    SetReadAhead(false);
    m_current = m_files[i].tag.get();
    if (m_current->Reload()) SyncTag(*m_current, false);
    GoTo(keepPosition ? dbf::kGoSame : dbf::kGoTop);
    return static_cast<int>(i) + 1;
  }
  m_current = nullptr;
  SetReadAhead(true);
  if (wanted.empty() && !keepPosition) GoTo(dbf::kGoTop);
  return wanted.empty() ? 0 : -1;
}

// The character field a key expression names on its own (the usual key, and the
// program's own), or 0: such keys are cut straight from the record image.
int32_t TbrIndexTable::PlainKeyField(TbrNdxFile& file) {
  if (file.KeyField() < 0) {
    std::string name = file.Expression();
    NormalizeExpression(name);
    int32_t n = name.find_first_of("+-()'\"") == std::string::npos ? FindField(name) : 0;
    file.SetKeyField(n > 0 && FieldType(n) == 'C' && FieldLength(n) < 255 ? n : 0);
  }
  return file.KeyField();
}

bool TbrIndexTable::KeyFor(TbrNdxFile& file, const char* image, std::string& stored) {
  if (int32_t field = OnFormula ? 0 : PlainKeyField(file)) {
    const char* record = image != nullptr ? image : RecordImage();
    stored = StoredKey(std::string_view(record + FieldOffset(field), FieldLength(field)), true);
    return true;
  }
  std::string text;
  char type = 0;
  bool changed = false;
  TbrExprContext context{this, image, file.Geometry().keyLength, true, &OnFormula};
  if (!EvaluateExpression(context, file.TagName(), file.Expression(), text, type, changed))
    return false;
  stored = StoredKey(text, file.Geometry().character);
  return true;
}

// Stands the tag on the table's current record. A record without an entry (left
// out by a unique tag, or deleted before the build) stands the tag between the
// entries around its key, so that next and prior continue from there; only with
// `report` is a missing entry an error, and not for a unique tag that holds the key
// from another record.
bool TbrIndexTable::SyncTag(TbrNdxTag& tag, bool report) {
  if (RecNo() < 1 || RecNo() > RecordCount()) {
    tag.Move(dbf::kGoTop);
    return true;
  }
  if (tag.RecNo() == RecNo() && !tag.Bof() && !tag.Eof() && tag.Move(dbf::kGoSame) == RecNo())
    return true;
  std::string key;
  if (!tag.Reload() || !KeyFor(tag.File(), nullptr, key)) return false;
  TbrNdxTag::SeekResult stood = tag.Stand(key, RecNo());
  if (stood != TbrNdxTag::SeekResult::Less) return stood == TbrNdxTag::SeekResult::Found;
  if (!report) return true;
  bool heldElsewhere = tag.File().Unique() && tag.Seek(key, true) == TbrNdxTag::SeekResult::Found;
  tag.Stand(key, RecNo());
  if (heldElsewhere) return true;
  Report(code::kSharing, subcode::kKeyMissing, std::string());
  return false;
}

bool TbrIndexTable::Accepted() {
  if (Deleted() && !UseDeleted()) return false;
  return !OnAcceptRecord || OnAcceptRecord(*this);
}

void TbrIndexTable::BlankImage() { std::memset(RecordImage(), ' ', RecordLength()); }

// One step in the current order; false when a flag was set or the read failed.
bool TbrIndexTable::MoveOnce(int32_t code, int32_t& recNo) {
  if (m_current == nullptr) {
    bool ok = TbrTable::GoTo(code);
    recNo = RecNo();
    return ok;
  }
  if (code != dbf::kGoTop && code != dbf::kGoBottom && m_current->RecNo() != RecNo())
    SyncTag(*m_current, false);
  recNo = m_current->Move(code);
  SetBof(m_current->Bof());
  SetEof(m_current->Eof());
  if (recNo == 0) {
    if (!Bof() && !Eof()) SetEof(true);
    return false;
  }
  if (TbrTable::GoTo(recNo)) return true;
  if (recNo > RecordCount()) BlankImage();
  return false;
}

bool TbrIndexTable::GoTo(int32_t code) {
  bool ok = MoveInOrder(code);
  // Clipper's protocol: every move ends with the index files unlocked.
  if (LockingProtocol() == dbf::TbrLokProtocol::ClipLock && m_lockDepth == 0) {
    for (Slot& slot : m_files) slot.file->UnlockIndex();
  }
  return ok;
}

bool TbrIndexTable::MoveInOrder(int32_t code) {
  if (code >= 0 || code < dbf::kGoBottom - 1) {
    bool ok = TbrTable::GoTo(code);
    if (ok && m_current != nullptr && m_current->RecNo() != RecNo()) SyncTag(*m_current, false);
    return ok;
  }
  SetBof(false);
  SetEof(false);
  int32_t step = code;
  int32_t recNo = 0;
  bool ok = false;
  while ((ok = MoveOnce(step, recNo)) && !Accepted()) {
    bool forward = step == dbf::kGoNext || step == dbf::kGoSame || step == dbf::kGoTop;
    step = forward ? dbf::kGoNext : dbf::kGoPrior;
  }
  if (ok) return true;
  bool ends = code == dbf::kGoTop || code == dbf::kGoBottom;
  if (Bof() || Eof()) {
    bool atBof = Bof() && !Eof();
    if (!ends) {
      GoTo(atBof ? dbf::kGoTop : dbf::kGoBottom);
      if (atBof ? Bof() : Eof()) BlankImage();
    } else {
      BlankImage();
    }
    if (atBof) SetBof(true); else SetEof(true);
  }
  return false;
}

}  // namespace qm::index
