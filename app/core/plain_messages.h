#pragma once
// Failures in plain words. Every message a user reads from Quillmart's command
// line (and, later, its windows) says first, in plain words, what was wrong and
// which file or thing it concerns; the engine's own report follows in brackets,
// so "Bramble Error N, SubCode M" stays available for whoever sorts errors:
//
//   no product table in /shop (CATALOG.DBF not found; Bramble Error 2, SubCode 1204)
//
// One translation for every command, so the same fault reads the same from
// dump, import, reindex and build.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

namespace qm::catalog {

// The plain text of any failure a command can meet: engine errors
// (dbf::EEngineIoError) and record-source errors are translated; every other
// exception's text is already plain and comes back as it is. Control
// characters but line breaks come back written out (net/printable_text.h).
std::string PlainMessage(const std::exception& error);

// The plain text of one engine report; `text` is the report's text (a path,
// a field name or a built message; may be empty).
std::string PlainEngineMessage(int32_t code, int32_t subCode, const std::string& text);

// "1 record", "2 records", "0 records".
std::string CountOf(std::size_t count, const char* singular, const char* plural);

}  // namespace qm::catalog
