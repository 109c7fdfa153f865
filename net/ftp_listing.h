#pragma once
// What a directory listing (the reply to LIST) says about the files in it:
// each regular file's name and size. Servers format LIST as they please; the
// two forms of nearly every server are read: Unix "ls -l" lines (with or
// without the group column) and the DOS form of IIS. Lines of neither form
// (totals, directories, links) are passed over.

#include <map>
#include <string>

namespace qm::net {

// Name -> size in bytes of the regular files of a LIST reply.
std::map<std::string, long long> ParseListing(const std::string& listing);

}  // namespace qm::net
