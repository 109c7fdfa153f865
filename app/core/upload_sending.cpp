#include "app/core/upload_sending.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>

#include "net/fiber_group.h"

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
            const std::function<bool()>& mayHandBack = {}) {
    UploadedFile file{name, m_site.remoteDirectory + name, false, {}, false};
    if (Stopped(file)) return Done(file), true;
    publisher.OnBytesSent = [&](long long sent) { m_observer.FileProgress(name, sent, entry.size); };
    file.uploaded = publisher.IsOpen() && publisher.Store(Bytes(LocalPath(m_options, name)), Bytes(file.remoteName));
    publisher.OnBytesSent = nullptr;
    if (!file.uploaded && !publisher.SessionUsable() && mayHandBack && mayHandBack()) return false;
    file.reply = file.uploaded ? Text(publisher.Client().LastReply) : Text(publisher.Problem());
    if (file.uploaded) m_manifest.Set(name, entry);
    Done(file);
    return true;
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

  UploadManifest& m_manifest;
  const SiteSettings& m_site;
  const UploadOptions& m_options;
  UploadObserver& m_observer;
  UploadResult& m_result;
};

// The pages before catalog.htm and the sessions sending them.
class PageSessions {
 public:
  PageSessions(const UploadPlan& plan, FileSender& sender)
      : m_plan(plan), m_sender(sender), m_queue(plan.pages.begin(), plan.pages.end()) {}

  // Takes pages until none is left, or until the session is lost for good
  // while another can go on.
  void Work(net::TFtpPublisher& publisher) {
    ++m_working;
    while (!m_queue.empty()) {
      const QString name = m_queue.front();
      m_queue.pop_front();
      if (m_sender.Send(publisher, name, m_plan.local.at(name), [this] { return m_working > 1; })) continue;
      m_queue.push_front(name);  // the next free session sends it
      break;
    }
    --m_working;
  }

  // An extra session: opened here, closed when the queue is empty. A server
  // that refuses it is used with the sessions it took.
  void WorkExtra(const net::TFtpPublishSite& site, std::vector<std::unique_ptr<net::TFtpPublisher>>& used) {
    auto publisher = std::make_unique<net::TFtpPublisher>(site);
    if (m_queue.empty() || !publisher->Open()) return;
    Work(*publisher);
    publisher->Close();
    used.push_back(std::move(publisher));
  }

  // Pages no session was left to take (none, as the last one never hands back).
  void HoldBackLeft() {
    for (const QString& name : m_queue) m_sender.HoldBack(name, QStringLiteral("not sent: no connection was left"));
    m_queue.clear();
  }

 private:
  const UploadPlan& m_plan;
  FileSender& m_sender;
  std::deque<QString> m_queue;
  int m_working = 0;
};

void SendPages(net::TFtpPublisher& primary, const net::TFtpPublishSite& extraSite, int connections,
               const UploadPlan& plan, FileSender& sender, UploadResult& result) {
  const int extras = std::clamp(std::min(connections, static_cast<int>(plan.pages.size())) - 1, 0, 64);
  PageSessions sessions(plan, sender);
  if (extras == 0) {
    sessions.Work(primary);
    result.connectionsUsed = 1;
    return;
  }
  // The sessions take turns on this thread's event loop; while one waits for
  // its server the others go on.
  std::vector<std::unique_ptr<net::TFtpPublisher>> used;
  net::TFiberGroup group;
  group.Add([&] { sessions.Work(primary); });
  for (int i = 0; i < extras; ++i) group.Add([&] { sessions.WorkExtra(extraSite, used); });
  group.Run();
  sessions.HoldBackLeft();
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

void SendPlan(net::TFtpPublisher& primary, const net::TFtpPublishSite& extraSite, int connections,
              const UploadPlan& plan, UploadManifest& manifest, const SiteSettings& site,
              const UploadOptions& options, UploadObserver& observer, UploadResult& result) {
  observer.FilesStarted(static_cast<int>(plan.pages.size() + (plan.catalog ? 1 : 0) + plan.deletes.size()));
  FileSender sender(manifest, site, options, observer, result);
  SendPages(primary, extraSite, connections, plan, sender, result);
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
