#include "app/core/upload_sending.h"

#include <QScopeGuard>
#include <algorithm>
#include <deque>
#include <functional>
#include <memory>

#include "net/fiber_group.h"
#include "net/message_pump.h"

namespace qm::catalog {

namespace {

std::string Bytes(const QString& text) { return text.toStdString(); }
QString Text(const std::string& bytes) { return QString::fromStdString(bytes); }

const QString kCancelledText = QStringLiteral("not sent: the upload was cancelled");

// Records each file's outcome once, in the order the outcomes come, and keeps
// the manifest in step with what the site holds.
class FileSender {
 public:
  FileSender(UploadManifest& manifest, const SiteSettings& site, const UploadOptions& options,
             UploadObserver& observer, UploadResult& result)
      : m_manifest(manifest), m_site(site), m_options(options), m_observer(observer), m_result(result) {}

  // Sends one file; false (nothing recorded) when it failed only because the
  // session is gone and mayHandBack() says another session takes it.
  bool Send(net::TFtpPublisher& publisher, const QString& name, const ManifestEntry& entry,
            const std::function<bool()>& mayHandBack = {}, bool newOnSite = false) {
    UploadedFile file{name, m_site.remoteDirectory + name, false, {}, false};
    if (Stopped(file)) return Done(file), true;
    publisher.OnBytesSent = [&](long long sent) { m_observer.FileProgress(name, sent, entry.size); };
    const std::string local = Bytes(LocalPath(m_options, name)), remote = Bytes(file.remoteName);
    file.uploaded = publisher.IsOpen() && (newOnSite ? publisher.StoreNew(local, remote) : publisher.Store(local, remote));
    publisher.OnBytesSent = nullptr;
    if (!file.uploaded && !publisher.SessionUsable() && mayHandBack && mayHandBack()) return false;
    file.reply = file.uploaded ? Text(publisher.Client().LastReply) : Text(publisher.Problem());
    if (file.uploaded) m_manifest.Set(name, entry);
    if (file.uploaded && newOnSite) m_unconfirmed.push_back({m_result.files.size(), publisher.BytesSent()});
    Done(file);
    return true;
  }

  // The pages stored straight under their names must be whole before
  // anything links to them: one listing shows all their sizes (where it
  // cannot be read, each is asked for). A short one fails and is removed.
  void ConfirmNewPages(net::TFtpPublisher& publisher) {
    if (m_unconfirmed.empty()) return;
    std::map<std::string, long long> sizes;
    const bool listed = publisher.ListSizes(Bytes(m_site.remoteDirectory), sizes);
    for (const auto& [index, sent] : m_unconfirmed) {
      UploadedFile& file = m_result.files[index];
      const std::string remote = Bytes(file.remoteName);
      const auto there = sizes.find(remote.substr(remote.rfind('/') + 1));
      if (listed ? there != sizes.end() && there->second == sent : publisher.ConfirmSize(remote, sent)) continue;
      file.uploaded = false;
      file.reply = listed ? QStringLiteral("Could not store %1: the server holds %2 of its %3 bytes")
                                .arg(file.remoteName).arg(there == sizes.end() ? 0 : there->second).arg(sent)
                          : Text(publisher.Problem());
      m_manifest.Remove(file.localName);
      if (listed) publisher.Delete(remote);
      m_observer.FileDone(static_cast<int>(m_result.files.size()), file);  // told again: it failed after all
    }
    m_unconfirmed.clear();
  }

  void HoldBack(const QString& name, const QString& why) { Done({name, m_site.remoteDirectory + name, false, why, false}); }

  void Delete(net::TFtpPublisher& publisher, const QString& name) {
    UploadedFile file{name, m_site.remoteDirectory + name, false, {}, true};
    if (Stopped(file)) return Done(file);
    file.uploaded = publisher.IsOpen() && publisher.Delete(Bytes(file.remoteName));
    file.reply = file.uploaded ? Text(publisher.Client().LastReply) : Text(publisher.Problem());
    // Already gone from the server: nothing of ours is left there to delete.
    if (file.uploaded || publisher.Client().ReplyCode == 550) m_manifest.Remove(name);
    Done(file);
  }

  bool AllWentUp() const {
    return std::all_of(m_result.files.begin(), m_result.files.end(), [](const UploadedFile& f) { return f.uploaded; });
  }

 private:
  bool Stopped(UploadedFile& file) {
    if (!m_result.cancelled && m_options.cancelRequested && m_options.cancelRequested()) m_result.cancelled = true;
    if (m_result.cancelled) file.reply = kCancelledText;
    return m_result.cancelled;
  }
  void Done(const UploadedFile& file) {
    m_result.files.push_back(file);
    m_observer.FileDone(static_cast<int>(m_result.files.size()), file);
  }

  std::vector<std::pair<size_t, long long>> m_unconfirmed;  // new pages stored: their entry, bytes sent
  UploadManifest& m_manifest;
  const SiteSettings& m_site;
  const UploadOptions& m_options;
  UploadObserver& m_observer;
  UploadResult& m_result;
};

// The pages before catalog.htm and the sessions sending them.
//
// An extra session costs a log-in (some servers spend seconds on one); it
// pays only where the pages left would keep one session busy for longer.
// So the first session sends a page first, and the extra sessions open only
// as far as the pages left, at the pace of that page, outlast two log-ins
// each (the first session's log-in is the measure).
class PageSessions {
 public:
  PageSessions(const UploadPlan& plan, FileSender& sender, int extrasAllowed, qint64 loginMs)
      : m_plan(plan), m_sender(sender), m_queue(plan.pages.begin(), plan.pages.end()),
        m_extrasAllowed(extrasAllowed), m_loginMs(std::max<qint64>(loginMs, 1)) {}

  // Takes pages until none is left, or until the session is lost for good
  // while another can go on.
  void Work(net::TFtpPublisher& publisher) {
    ++m_working;
    const auto done = qScopeGuard([this] {
      --m_working;
      if (m_extrasWanted < 0) m_extrasWanted = 0;  // no page was sent: the extra sessions need not wait
    });
    while (!m_queue.empty()) {
      const QString name = m_queue.front();
      m_queue.pop_front();
      const qint64 start = net::TickCountMs();
      // A page new on the site goes straight under its name: catalog.htm,
      // which will link to it, goes only after it is confirmed.
      const bool recorded = m_sender.Send(publisher, name, m_plan.local.at(name), [this] { return m_working > 1; },
                                          m_plan.newOnSite.count(name) > 0);
      if (m_extrasWanted < 0) Decide(net::TickCountMs() - start);
      if (recorded) continue;
      m_queue.push_front(name);  // the next free session sends it
      break;
    }
  }

  // Extra session number `index` (0-based): waits for the decision, then
  // opens, sends and closes. A server that refuses it is used with the
  // sessions it took; one still logging in when the last page was taken
  // gives up (its log-in would only hold the upload up).
  void WorkExtra(int index, net::TFtpPublishSite site, std::vector<std::unique_ptr<net::TFtpPublisher>>& used) {
    while (m_extrasWanted < 0) net::PumpMessagesOnce(-1);
    if (index >= m_extrasWanted || m_queue.empty()) return;
    site.CancelRequested = [this, userCancel = site.CancelRequested] {
      return m_queue.empty() || (userCancel && userCancel());
    };
    auto publisher = std::make_unique<net::TFtpPublisher>(site);
    if (!publisher->Open()) return;
    Work(*publisher);
    publisher->Close();
    used.push_back(std::move(publisher));
  }

  // Pages no session was left to take (none, as the last one never hands back).
  void HoldBackLeft() {
    for (const QString& name : m_queue) m_sender.HoldBack(name, QStringLiteral("not sent: no connection was left"));
    m_queue.clear();
  }
  int ExtrasWanted() const { return std::max(m_extrasWanted, 0); }

 private:
  void Decide(qint64 pageMs) {
    const qint64 aloneMs = static_cast<qint64>(m_queue.size()) * std::max<qint64>(pageMs, 1);
    m_extrasWanted = static_cast<int>(std::min<qint64>(m_extrasAllowed, aloneMs / (2 * m_loginMs)));
  }

  const UploadPlan& m_plan;
  FileSender& m_sender;
  std::deque<QString> m_queue;
  const int m_extrasAllowed;
  const qint64 m_loginMs;
  int m_extrasWanted = -1;  // not decided yet
  int m_working = 0;
};

void SendPages(net::TFtpPublisher& primary, const SessionsToUse& sessions, const UploadPlan& plan,
               FileSender& sender, UploadResult& result) {
  const int extras = std::clamp(std::min(sessions.connections, static_cast<int>(plan.pages.size())) - 1, 0, 64);
  PageSessions pages(plan, sender, extras, sessions.loginMs);
  result.connectionsAsked = 1;
  result.connectionsUsed = 1;
  if (extras == 0) return pages.Work(primary);
  // The sessions take turns on this thread's event loop; while one waits for
  // its server the others go on.
  std::vector<std::unique_ptr<net::TFtpPublisher>> used;
  net::TFiberGroup group;
  group.Add([&] { pages.Work(primary); });
  for (int i = 0; i < extras; ++i) group.Add([&, i] { pages.WorkExtra(i, sessions.extraSite, used); });
  group.Run();
  pages.HoldBackLeft();
  result.connectionsAsked = 1 + pages.ExtrasWanted();
  result.connectionsUsed = 1 + static_cast<int>(used.size());
  for (const auto& publisher : used) {
    for (const std::string& what : publisher->Retried()) result.retried << Text(what);
    for (const std::string& name : publisher->StoredInPlace()) result.storedInPlace << Text(name);
  }
}

}  // namespace

QString LocalPath(const UploadOptions& options, const QString& name) {
  // In the current directory the bare name, as the user knows it from upload.txt.
  return options.workDir.path() == QLatin1String(".") ? name : options.workDir.filePath(name);
}

void SendPlan(net::TFtpPublisher& primary, const SessionsToUse& sessions, const UploadPlan& plan, UploadManifest& manifest, const SiteSettings& site,
              const UploadOptions& options, UploadObserver& observer, UploadResult& result) {
  observer.FilesStarted(static_cast<int>(plan.pages.size() + (plan.catalog ? 1 : 0) + plan.deletes.size()));
  FileSender sender(manifest, site, options, observer, result);
  SendPages(primary, sessions, plan, sender, result);
  sender.ConfirmNewPages(primary);
  if (plan.catalog) {
    // The listing goes only over pages that are all there; else the old one
    // stays, and the old one's pages were left in place.
    if (sender.AllWentUp()) {
      sender.Send(primary, *plan.catalog, plan.local.at(*plan.catalog));
    } else {
      result.listingHeldBack = true;
      sender.HoldBack(*plan.catalog, result.cancelled ? kCancelledText
                                                      : QStringLiteral("held back: a page before it did not go up"));
    }
  }
  // Pages of gone products go only once no listing online links to them.
  const bool listingCurrent = sender.AllWentUp();
  for (const QString& name : plan.deletes) {
    if (listingCurrent) sender.Delete(primary, name);
    else result.files.push_back({name, site.remoteDirectory + name, false,
                                 QStringLiteral("kept: the listing online still links to it"), true});
  }
}

}  // namespace qm::catalog
