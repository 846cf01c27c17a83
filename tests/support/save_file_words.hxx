// A kernel text save file taken apart into words, so that a test can damage
// its structure (redirect links, drop or copy records, change the counts) and
// put it together again. A text field ("@<length> <bytes>") is one word.
#pragma once

#include <string>
#include <vector>

namespace testkit {

struct SaveFileWords {
  std::vector<std::string> header;                 // VELM-TEXT, version, records, top-level
  std::string info;                                // the second line, as it is
  std::vector<std::vector<std::string>> records;   // every record's words, its "#" included
  std::string trailer;                             // text after the last record

  static SaveFileWords parse(const std::string& text);
  std::string text() const;

  int top_level() const { return std::stoi(header[3]); }
  // Positions of record r's link words ("$<record>"), in file order.
  std::vector<std::size_t> links(int r) const;
  // The record a link word names; -1 for null.
  static int target(const std::string& link) { return std::stoi(link.substr(1)); }
  static std::string link_to(int record) { return "$" + std::to_string(record); }
  // The first record whose leaf identifier is `identifier`, after `after`; -1 when none.
  int find(const std::string& identifier, int after = -1) const;

  // Drops record r: later records move down one, links to r become null.
  void erase_record(int r);
  // Appends a copy of record r as a new last record; returns its number.
  int duplicate_record(int r);
};

}  // namespace testkit
