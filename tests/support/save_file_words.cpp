#include "support/save_file_words.hxx"

#include <cctype>
#include <sstream>

namespace testkit {

SaveFileWords SaveFileWords::parse(const std::string& text) {
  SaveFileWords f;
  const std::size_t first = text.find('\n');
  const std::size_t second = text.find('\n', first + 1);
  std::istringstream line(text.substr(0, first));
  for (std::string w; line >> w;) f.header.push_back(w);
  f.info = text.substr(first + 1, second - first - 1);
  std::vector<std::string> record;
  for (std::size_t at = second + 1; at < text.size();) {
    if (std::isspace(static_cast<unsigned char>(text[at]))) {
      ++at;
      continue;
    }
    std::size_t end = text.find_first_of(" \n", at);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(at, end - at);
    if (word.size() > 1 && word[0] == '@' && word != "@-1") {
      end += 1 + std::stoul(word.substr(1));  // the text's bytes belong to the word
      word = text.substr(at, end - at);
    }
    record.push_back(word);
    at = end;
    if (word == "#") {
      f.records.push_back(record);
      record.clear();
    }
  }
  return f;
}

std::string SaveFileWords::text() const {
  std::string out;
  for (std::size_t i = 0; i < header.size(); ++i) out += header[i] + (i + 1 < header.size() ? " " : "\n");
  out += info + "\n";
  for (const auto& record : records)
    for (const std::string& w : record) out += w + (w == "#" ? "\n" : " ");
  return out + trailer;
}

std::vector<std::size_t> SaveFileWords::links(int r) const {
  std::vector<std::size_t> at;
  for (std::size_t i = 1; i < records[r].size(); ++i)
    if (records[r][i].size() > 1 && records[r][i][0] == '$') at.push_back(i);
  return at;
}

int SaveFileWords::find(const std::string& identifier, int after) const {
  for (int r = after + 1; r < static_cast<int>(records.size()); ++r)
    if (records[r].size() > 1 && records[r][1] == identifier) return r;
  return -1;
}

void SaveFileWords::erase_record(int r) {
  records.erase(records.begin() + r);
  for (int k = 0; k < static_cast<int>(records.size()); ++k) {
    if (k >= r) records[k][0] = "-" + std::to_string(k);
    for (std::size_t i : links(k))
      if (int t = target(records[k][i]); t >= r) records[k][i] = link_to(t == r ? -1 : t - 1);
  }
  header[2] = std::to_string(records.size());
  if (r < top_level()) header[3] = std::to_string(top_level() - 1);
}

int SaveFileWords::duplicate_record(int r) {
  records.push_back(records[r]);
  const int copy = static_cast<int>(records.size()) - 1;
  records.back()[0] = "-" + std::to_string(copy);
  header[2] = std::to_string(records.size());
  return copy;
}

}  // namespace testkit
