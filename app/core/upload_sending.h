#pragma once
// The sending part of Upload Catalog (upload_command.h): the pages of the
// plan over up to N sessions, then catalog.htm, then the deletions.
//
// The pages before catalog.htm form one queue; each session (the first one,
// already logged in, plus the extra ones opened here where the pages left
// are worth their log-in) takes the next page when its last one is done, so
// the servers' round trips overlap. The site's
// rules hold as with one session: catalog.htm goes only after every page
// went up, over one session, and the deletions only after it; each file is
// told once. An extra session the server refuses (421 "too many
// connections", a refused connect) is simply not used; one lost for good
// hands its page back to the others, so only the last session standing
// reports a page as failed for want of a connection.

#include <QString>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "app/core/upload_command.h"
#include "app/core/upload_manifest.h"
#include "net/ftp_publisher.h"

namespace qm::catalog {

struct UploadPlan {
  std::vector<QString> pages;      // sends in list order, catalog.htm left out
  std::optional<QString> catalog;  // the listing, when it goes up
  std::vector<QString> deletes;    // pages Quillmart put there that upload.txt no longer lists
  std::set<QString> newOnSite;     // pages the server's listing does not have (none when it was not read)
  std::map<QString, ManifestEntry> local;
  int unchanged = 0;
};

struct SessionsToUse {
  int connections = 1;              // at most, the first one included
  net::TFtpPublishSite extraSite;   // what the extra sessions are made from
  qint64 loginMs = 0;               // what the first session's log-in took
};

// Sends the plan over `primary` (open) and up to connections - 1 more
// sessions; fills result.files and the manifest.
void SendPlan(net::TFtpPublisher& primary, const SessionsToUse& sessions, const UploadPlan& plan,
              UploadManifest& manifest, const SiteSettings& site, const UploadOptions& options,
              UploadObserver& observer, UploadResult& result);

// Where the listed file is read from: the bare name in the current directory.
QString LocalPath(const UploadOptions& options, const QString& name);

}  // namespace qm::catalog
