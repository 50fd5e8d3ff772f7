#include "desktop_entry.h"

#include <sstream>
#include <stdexcept>

namespace quillop::testing {
namespace {

std::string unescapeValue(const std::string& raw) {
  std::string value;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '\\') {
      value += raw[i];
      continue;
    }
    if (++i == raw.size()) throw std::runtime_error("value ends with a backslash: " + raw);
    const size_t code = std::string("sntr\\").find(raw[i]);
    if (code == std::string::npos) throw std::runtime_error("invalid escape in: " + raw);
    value += " \n\t\r\\"[code];
  }
  return value;
}

// Characters that must be quoted in an Exec argument.
bool reserved(char c) {
  return std::string(" \t\n\"'\\><~|&;$*?#()`").find(c) != std::string::npos;
}

struct Word {
  std::string text;
  bool quoted = false;
};

std::vector<Word> splitExec(const std::string& exec) {
  std::vector<Word> words;
  bool inWord = false;
  bool inQuotes = false;
  for (size_t i = 0; i < exec.size(); ++i) {
    const char c = exec[i];
    if (!inQuotes && c == ' ') {
      inWord = false;
      continue;
    }
    if (!inWord) words.emplace_back();
    inWord = true;
    if (c == '"') {
      inQuotes = !inQuotes;
      words.back().quoted = true;
    } else if (inQuotes && c == '\\') {
      if (++i == exec.size() || std::string("\"`$\\").find(exec[i]) == std::string::npos) {
        throw std::runtime_error("invalid backslash in Exec: " + exec);
      }
      words.back().text += exec[i];
    } else if (inQuotes ? (c == '$' || c == '`') : reserved(c)) {
      throw std::runtime_error("reserved character not quoted or escaped in Exec: " + exec);
    } else {
      words.back().text += c;
    }
  }
  if (inQuotes) throw std::runtime_error("unterminated quote in Exec: " + exec);
  return words;
}

}  // namespace

KeyFile KeyFile::parse(const std::string& text) {
  KeyFile file;
  std::istringstream lines(text);
  std::string line;
  std::string group;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      group = line.substr(1, line.size() - 2);
      if (file.groups_.contains(group)) throw std::runtime_error("group repeated: " + group);
      file.groups_[group];
      continue;
    }
    const size_t equals = line.find('=');
    if (group.empty() || equals == std::string::npos) {
      throw std::runtime_error("not a key file line: " + line);
    }
    const std::string key = line.substr(0, line.find_last_not_of(' ', equals - 1) + 1);
    const size_t start = line.find_first_not_of(' ', equals + 1);
    const std::string raw = start == std::string::npos ? "" : line.substr(start);
    if (!file.groups_[group].emplace(key, unescapeValue(raw)).second) {
      throw std::runtime_error("key repeated: " + key);
    }
  }
  return file;
}

bool KeyFile::has(const std::string& group, const std::string& key) const {
  const auto found = groups_.find(group);
  return found != groups_.end() && found->second.contains(key);
}

const std::string& KeyFile::value(const std::string& group, const std::string& key) const {
  if (!has(group, key)) throw std::runtime_error("no key " + key + " in [" + group + "]");
  return groups_.at(group).at(key);
}

std::string fileUri(const std::string& path, UriStyle style) {
  static const std::string unreserved =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~/";
  static const std::string marks = "!$&'()*+,;=:@";
  std::string uri = "file://";
  for (const char c : path) {
    if (unreserved.find(c) != std::string::npos ||
        (style == UriStyle::kKeepMarks && marks.find(c) != std::string::npos)) {
      uri += c;
    } else {
      static const char hex[] = "0123456789ABCDEF";
      const auto byte = static_cast<unsigned char>(c);
      uri += {'%', hex[byte >> 4], hex[byte & 15]};
    }
  }
  return uri;
}

std::vector<std::string> expandExec(const std::string& exec, const std::vector<std::string>& paths,
                                    UriStyle style) {
  std::vector<std::string> argv;
  for (const Word& word : splitExec(exec)) {
    if (!word.quoted && (word.text == "%F" || word.text == "%U")) {
      for (const std::string& path : paths) {
        argv.push_back(word.text == "%F" ? path : fileUri(path, style));
      }
      continue;
    }
    std::string text;
    for (size_t i = 0; i < word.text.size(); ++i) {
      if (word.text[i] != '%') {
        text += word.text[i];
      } else if (i + 1 < word.text.size() && word.text[i + 1] == '%') {
        text += '%';
        ++i;
      } else {
        throw std::runtime_error("field code out of place in Exec: " + exec);
      }
    }
    argv.push_back(text);
  }
  if (argv.empty()) throw std::runtime_error("empty Exec");
  return argv;
}

}  // namespace quillop::testing
