// The generic dataset's life cycle, navigation and editing; fields and links
// are in dataset_fields.cpp.
#include "dataset/dataset.h"

#include <algorithm>
#include <cstring>

namespace qm::dataset {

namespace {
constexpr const char* kStateNames[] = {"inactive", "browse", "edit", "insert", "calc-fields", "filter"};
}  // namespace

const char* StateName(TDataSetState state) { return kStateNames[static_cast<int>(state)]; }

TDataSet::TDataSet() = default;

// Derived datasets close in their own destructor; the links still attached
// then are told nothing more and must not reach this dataset again.
TDataSet::~TDataSet() {
  for (TDataLink* link : m_links) link->m_linkedTo = nullptr;
}

void TDataSet::Open() {
  if (Active()) return;
  CallEvent(BeforeOpen);
  InternalOpen();
  CreateFields();
  m_active.assign(static_cast<size_t>(RecordBufferSize()), 0);
  m_modified = false;
  m_cursorStale = false;
  SetState(TDataSetState::dsBrowse);
  FetchFirst(TFetchStep::fsNext);
  Notify(LinkEvent::Active);
  CallEvent(AfterOpen);
}

void TDataSet::Close() {
  if (!Active()) return;
  CallEvent(BeforeClose);
  if (m_state == TDataSetState::dsEdit || m_state == TDataSetState::dsInsert) Cancel();
  InternalClose();
  DestroyFields();
  m_active.clear();
  m_saved.clear();
  m_bof = m_eof = m_empty = true;
  SetState(TDataSetState::dsInactive);
  Notify(LinkEvent::Active);
  CallEvent(AfterClose);
}

void TDataSet::CheckActive() const {
  if (!Active()) throw EDatabaseError("Cannot perform this operation on a closed dataset");
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  if (m_state == TDataSetState::dsEdit || m_state == TDataSetState::dsInsert) {
    Post();
  } else if (m_state != TDataSetState::dsBrowse) {
    SetState(TDataSetState::dsBrowse);
  }
}

void TDataSet::UpdateCursorPos() {
  if (m_cursorStale && !m_empty) InternalSetToRecord(ActiveBuffer());
  m_cursorStale = false;
}

// First (mode next after InternalFirst) or last (mode prior after InternalLast).
void TDataSet::FetchFirst(TFetchStep mode) {
  const TFetchResult result = GetRecord(ActiveBuffer(), mode, false);
  m_empty = result != TFetchResult::frOK;
  m_bof = mode == TFetchStep::fsNext || m_empty;
  m_eof = mode == TFetchStep::fsPrior || m_empty;
  m_cursorStale = false;
  NotifyDataSetChanged();
}

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  InternalFirst();
  FetchFirst(TFetchStep::fsNext);
  DoAfterScroll();
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoBeforeScroll();
  InternalLast();
  FetchFirst(TFetchStep::fsPrior);
  DoAfterScroll();
}

// One step; the current record stays when there is none in that direction.
bool TDataSet::MoveOne(TFetchStep mode) {
  if (m_empty) return false;
  UpdateCursorPos();
  std::vector<char> next(m_active.size());
  if (GetRecord(next.data(), mode, false) == TFetchResult::frOK) {
    m_active.swap(next);
    m_bof = m_eof = false;
    return true;
  }
  (mode == TFetchStep::fsNext ? m_eof : m_bof) = true;
  m_cursorStale = true;  // the store stands past the end now
  return false;
}

void TDataSet::Next() {
  CheckBrowseMode();
  if (m_eof) return;
  DoBeforeScroll();
  MoveOne(TFetchStep::fsNext);
  Notify(LinkEvent::Scroll);
  DoAfterScroll();
}

void TDataSet::Prior() {
  CheckBrowseMode();
  if (m_bof) return;
  DoBeforeScroll();
  MoveOne(TFetchStep::fsPrior);
  Notify(LinkEvent::Scroll);
  DoAfterScroll();
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  DoBeforeScroll();
  int moved = 0;
  const TFetchStep mode = distance > 0 ? TFetchStep::fsNext : TFetchStep::fsPrior;
  while (moved != distance && MoveOne(mode)) moved += distance > 0 ? 1 : -1;
  Notify(LinkEvent::Scroll);
  DoAfterScroll();
  return moved;
}

// A current record that vanished (deleted, filtered out) leaves the store on
// its nearest neighbour, where a second current fetch finds it.
void TDataSet::Resync() {
  m_cursorStale = false;
  if (GetRecord(ActiveBuffer(), TFetchStep::fsCurrent, false) != TFetchResult::frOK &&
      GetRecord(ActiveBuffer(), TFetchStep::fsCurrent, false) != TFetchResult::frOK &&
      GetRecord(ActiveBuffer(), TFetchStep::fsNext, false) != TFetchResult::frOK &&
      GetRecord(ActiveBuffer(), TFetchStep::fsPrior, false) != TFetchResult::frOK) {
    m_empty = m_bof = m_eof = true;
  } else {
    m_empty = m_bof = m_eof = false;
  }
  NotifyDataSetChanged();
}

void TDataSet::RunOfferingError(const std::function<void()>& operation, const TDataSetErrorEvent& handler) {
  for (;;) {
    try {
      operation();
      return;
    } catch (EDatabaseError& error) {
      if (dynamic_cast<EAbort*>(&error) != nullptr) throw;
      TErrorAnswer action = TErrorAnswer::eaRaise;
      if (handler) handler(*this, error, action);
      if (action == TErrorAnswer::eaRaise) throw;
      if (action == TErrorAnswer::eaStopQuietly) throw EAbort();
    }
  }
}

void TDataSet::Edit() {
  CheckActive();
  if (m_state == TDataSetState::dsEdit || m_state == TDataSetState::dsInsert) return;
  if (m_empty) return Append();
  if (!CanModify()) throw EDatabaseError("Cannot modify a read-only dataset");
  CallEvent(BeforeEdit);
  UpdateCursorPos();
  RunOfferingError([this] { InternalEdit(); }, OnEditError);
  m_modified = false;
  SetState(TDataSetState::dsEdit);
  NotifyRecordChanged(nullptr);
  CallEvent(AfterEdit);
}

void TDataSet::StartInsert(bool append) {
  CheckBrowseMode();
  if (!CanModify()) throw EDatabaseError("Cannot modify a read-only dataset");
  CallEvent(BeforeInsert);
  DoBeforeScroll();
  m_saved = m_active;
  m_savedEmpty = m_empty;
  InternalInitRecord(ActiveBuffer());
  if (m_calcFieldsSize > 0) std::memset(ActiveBuffer() + CalcAreaOffset(), 0, m_calcFieldsSize);
  SetBookmarkFlag(ActiveBuffer(), append ? TBookmarkFlag::bfEOF : TBookmarkFlag::bfInserted);
  m_empty = false;
  m_modified = false;
  SetState(TDataSetState::dsInsert);
  CallEvent(OnNewRecord);
  NotifyDataSetChanged();
  CallEvent(AfterInsert);
  DoAfterScroll();
}

void TDataSet::Insert() { StartInsert(false); }
void TDataSet::Append() { StartInsert(true); }

void TDataSet::Post() {
  if (m_state != TDataSetState::dsEdit && m_state != TDataSetState::dsInsert) {
    CheckActive();
    return;
  }
  Notify(LinkEvent::UpdateData);
  CallEvent(BeforePost);
  RunOfferingError([this] { InternalPost(); }, OnPostError);
  m_modified = false;
  m_saved.clear();
  SetState(TDataSetState::dsBrowse);
  Resync();
  CallEvent(AfterPost);
}

void TDataSet::Cancel() {
  if (m_state != TDataSetState::dsEdit && m_state != TDataSetState::dsInsert) return;
  const bool inserting = m_state == TDataSetState::dsInsert;
  CallEvent(BeforeCancel);
  InternalCancel();
  m_modified = false;
  if (inserting) {
    // The record before the insert is current again before anyone hears of
    // the state change (a grid may walk the table when it does).
    m_active = m_saved;
    m_empty = m_savedEmpty;
    m_cursorStale = true;
    SetState(TDataSetState::dsBrowse);
    NotifyDataSetChanged();
  } else {
    SetState(TDataSetState::dsBrowse);
    m_cursorStale = true;
    UpdateCursorPos();
    Resync();
  }
  m_saved.clear();
  CallEvent(AfterCancel);
}

void TDataSet::Delete() {
  CheckActive();
  if (m_state == TDataSetState::dsInsert) return Cancel();
  if (m_state == TDataSetState::dsEdit) Cancel();
  if (m_empty) throw EDatabaseError("Cannot perform this operation on an empty dataset");
  CallEvent(BeforeDelete);
  DoBeforeScroll();
  UpdateCursorPos();
  RunOfferingError([this] { InternalDelete(); }, OnDeleteError);
  SetState(TDataSetState::dsBrowse);
  Resync();
  CallEvent(AfterDelete);
  DoAfterScroll();
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  UpdateCursorPos();
  InternalRefresh();
  Resync();
}

TBookmark TDataSet::GetBookmark() {
  if (!Active() || m_empty || GetBookmarkFlag(ActiveBuffer()) != TBookmarkFlag::bfCurrent) return {};
  return GetBookmarkData(ActiveBuffer());
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  CheckBrowseMode();
  DoBeforeScroll();
  InternalGotoBookmark(bookmark);
  Resync();
  DoAfterScroll();
}

int TDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
  if (a.empty() || b.empty()) return a.empty() == b.empty() ? 0 : (a.empty() ? -1 : 1);
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool TDataSet::Locate(const std::string&, const std::string&, TLocateOptions) { return false; }

TFieldValue TDataSet::Lookup(const std::string&, const std::string&, const std::string&) { return {}; }

void TDataSet::DoBeforeScroll() { CallEvent(BeforeScroll); }
void TDataSet::DoAfterScroll() { CallEvent(AfterScroll); }

void TDataSet::SetState(TDataSetState state) {
  if (m_state == state) return;
  m_state = state;
  Notify(LinkEvent::State);
}

}  // namespace qm::dataset
