#include "cmd_text_io.h"

#include <cstdio>

#include "cli_command.h"

namespace qm::cli {

CsvReader::CsvReader(std::istream& in) : m_in(in) {
  // Spreadsheets like to start UTF-8 files with a byte order mark.
  static const char kBom[] = "\xEF\xBB\xBF";
  for (int i = 0; i < 3; ++i) {
    if (m_in.peek() != static_cast<unsigned char>(kBom[i])) {
      for (int j = i - 1; j >= 0; --j) m_in.putback(kBom[j]);
      return;
    }
    m_in.get();
  }
}

void CsvReader::ReadField(std::string& field, bool& endOfRow) {
  field.clear();
  endOfRow = false;
  int c = m_in.get();
  if (c == '"') {
    for (;;) {
      c = m_in.get();
      if (c == EOF) throw CliError("CSV row " + std::to_string(m_row) + ": quote never closed");
      if (c == '"') {
        if (m_in.peek() != '"') break;
        m_in.get();
      }
      field.push_back(static_cast<char>(c));
    }
    c = m_in.get();
    if (c == '\r' && m_in.peek() == '\n') c = m_in.get();
    if (c != ',' && c != '\n' && c != EOF)
      throw CliError("CSV row " + std::to_string(m_row) + ": text after a closing quote");
  } else {
    while (c != ',' && c != '\n' && c != EOF) {
      field.push_back(static_cast<char>(c));
      c = m_in.get();
    }
    if (!field.empty() && field.back() == '\r' && c != ',') field.pop_back();
  }
  endOfRow = c != ',';
}

bool CsvReader::Next(CsvRow& row) {
  for (;;) {
    row.clear();
    if (m_in.peek() == EOF) return false;
    ++m_row;
    std::string field;
    bool endOfRow = false;
    while (!endOfRow) {
      ReadField(field, endOfRow);
      row.push_back(field);
    }
    if (row.size() > 1 || !row[0].empty()) return true;
  }
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

std::string CsvLine(const CsvRow& row) {
  std::string line;
  for (std::size_t i = 0; i < row.size(); ++i) {
    if (i > 0) line += ',';
    line += CsvField(row[i]);
  }
  return line + "\r\n";
}

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (c < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", c);
          out += escape;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + '"';
}

}  // namespace qm::cli
