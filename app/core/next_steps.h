#pragma once
// The next step, in plain words, for a command that stopped because the
// catalog folder lacks what it works on: the product table (a new, empty
// folder) or the upload list (nothing built yet). Each front end shows it
// under the command's own message, in its own terms: the windows name menus
// and tabs, quillmart-cli its commands.
//
// The decision is taken by looking at the folder, not at the message: a
// command that failed for another reason in a folder that has the file gets
// no next step.

#include <string>

namespace qm::catalog {

enum class FrontEnd { Window, CommandLine };

// Empty when `directory` (empty: the working directory) holds the product
// table, under any letter case of its name.
std::string MissingTableStep(FrontEnd front, const std::string& directory = {});

// Empty when `directory` (empty: the working directory) holds upload.txt.
std::string MissingUploadListStep(FrontEnd front, const std::string& directory = {});

}  // namespace qm::catalog
