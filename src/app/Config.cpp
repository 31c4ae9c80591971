#include "app/Config.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "document/AtomicFile.h"
#include "document/Numbers.h"
#include "document/Text.h"

namespace ondrevo {

namespace fs = std::filesystem;

std::string ResolveSettingsFolder(const std::string& subfolder) {
  if (const char* appData = std::getenv("APPDATA"); appData && *appData)
    return std::string(appData) + subfolder;
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::string(home) + "/.config";
  } else {
    base = fs::temp_directory_path().string();
  }
  return base + subfolder;
}

// ---- TIniFile ----

namespace {
// Keys and values live on one line each.
std::string OneLine(std::string s) {
  std::replace(s.begin(), s.end(), '\n', ' ');
  std::replace(s.begin(), s.end(), '\r', ' ');
  return s;
}
}  // namespace

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {
  std::string text;
  try {
    text = ReadWholeFile(path_, 16u * 1024u * 1024u);
  } catch (const std::exception&) {
    return;  // no file yet: everything takes its default
  }
  Section* current = nullptr;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string t(Trim(line));
    if (t.empty() || t[0] == ';' || t[0] == '#') continue;
    if (t.front() == '[' && t.back() == ']') {
      std::string name = t.substr(1, t.size() - 2);
      current = Find(name);
      if (!current) {
        sections_.push_back({name, {}});
        current = &sections_.back().second;
      }
      continue;
    }
    std::size_t eq = line.find('=');
    if (!current || eq == std::string::npos) continue;
    std::string key(Trim(line.substr(0, eq)));
    std::string value = line.substr(eq + 1);
    auto it = std::find_if(current->begin(), current->end(),
                           [&](const auto& kv) { return kv.first == key; });
    if (it != current->end())
      it->second = value;
    else
      current->push_back({key, value});
  }
}

TIniFile::Section* TIniFile::Find(const std::string& section) {
  for (auto& [name, values] : sections_)
    if (name == section) return &values;
  return nullptr;
}

const TIniFile::Section* TIniFile::Find(const std::string& section) const {
  for (const auto& [name, values] : sections_)
    if (name == section) return &values;
  return nullptr;
}

bool TIniFile::HasKey(const std::string& section, const std::string& key) const {
  const Section* s = Find(section);
  return s && std::any_of(s->begin(), s->end(), [&](const auto& kv) { return kv.first == key; });
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) const {
  if (const Section* s = Find(section))
    for (const auto& [k, v] : *s)
      if (k == key) return v;
  return def;
}

std::vector<std::pair<std::string, std::string>> TIniFile::ReadSection(
    const std::string& section) const {
  if (const Section* s = Find(section)) return *s;
  return {};
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
  WriteStrings(section, {{key, value}});
}

void TIniFile::WriteStrings(const std::string& section,
                            const std::vector<std::pair<std::string, std::string>>& values) {
  Section* s = Find(section);
  if (!s) {
    sections_.push_back({OneLine(section), {}});
    s = &sections_.back().second;
  }
  for (const auto& [key, value] : values) {
    std::string k = OneLine(key), v = OneLine(value);
    auto it = std::find_if(s->begin(), s->end(), [&](const auto& kv) { return kv.first == k; });
    if (it != s->end())
      it->second = v;
    else
      s->push_back({k, v});
  }
  Flush();
}

void TIniFile::ReplaceSection(const std::string& section,
                              const std::vector<std::pair<std::string, std::string>>& values) {
  if (Section* s = Find(section)) s->clear();
  WriteStrings(section, values);
}

void TIniFile::Flush() const {
  std::string text;
  for (const auto& [name, values] : sections_) {
    text += "[" + name + "]\n";
    for (const auto& [k, v] : values) text += k + "=" + v + "\n";
    text += "\n";
  }
  try {
    WriteFileAtomically(path_, text);
  } catch (const std::system_error& e) {
    // The message names the settings file whatever step failed.
    throw std::system_error(e.code(), "Cannot write " + path_);
  }
}

// ---- TWConfig ----

namespace {
const char* const kRS232Section = "RS232.Default";
const char* const kRS232Keys[5] = {"BaudRate", "DataBits", "Parity", "StopBits", "Handshake"};

std::string MakeFolder(const std::string& subfolder) {
  std::string folder = ResolveSettingsFolder(subfolder);
  std::error_code ec;
  fs::create_directories(folder, ec);  // a failure shows up when the file is written
  return folder;
}
}  // namespace

TWConfig::TWConfig(const std::string& defaultLibraryPath, const std::string& subfolder)
    : folder_(MakeFolder(subfolder)), ini_(folder_ + "/" + kSettingsFileName) {
  libraryPath_ = ini_.ReadString("General", "LibraryPath", defaultLibraryPath);

  std::int32_t* fields[5] = {&rs232_.BaudRate, &rs232_.DataBits, &rs232_.Parity, &rs232_.StopBits,
                             &rs232_.Handshake};
  RS232Defaults read;
  std::int32_t* readFields[5] = {&read.BaudRate, &read.DataBits, &read.Parity, &read.StopBits,
                                 &read.Handshake};
  bool ok = true;
  for (int i = 0; i < 5 && ok; ++i) {
    if (!ini_.HasKey(kRS232Section, kRS232Keys[i])) continue;
    std::int64_t v = 0;
    ok = TryParseInteger(ini_.ReadString(kRS232Section, kRS232Keys[i]), v) && v >= INT32_MIN &&
         v <= INT32_MAX;
    if (ok) *readFields[i] = static_cast<std::int32_t>(v);
  }
  if (ok)
    for (int i = 0; i < 5; ++i) *fields[i] = *readFields[i];

  for (const auto& [key, value] : ini_.ReadSection(kRecentSection)) {
    if (value.empty() || static_cast<int>(recent_.size()) >= kMaxRecentFiles) continue;
    if (std::find(recent_.begin(), recent_.end(), value) == recent_.end()) recent_.push_back(value);
  }
}

void TWConfig::SetLibraryPath(const std::string& path) {
  libraryPath_ = path;
  ini_.WriteString("General", "LibraryPath", path);
}

void TWConfig::SetRS232Defaults(const RS232Defaults& values) {
  rs232_ = values;
  const std::int32_t v[5] = {values.BaudRate, values.DataBits, values.Parity, values.StopBits,
                             values.Handshake};
  std::vector<std::pair<std::string, std::string>> kv;
  for (int i = 0; i < 5; ++i) kv.push_back({kRS232Keys[i], std::to_string(v[i])});
  ini_.WriteStrings(kRS232Section, kv);
}

std::string TWConfig::GetLanHosts() const {
  return ini_.ReadString("LAN", "Hosts");
}

void TWConfig::SetLanHosts(const std::string& hosts) {
  // One line in the file: line ends would start keys of their own.
  std::string line;
  for (char c : hosts) line += (c == '\r' || c == '\n') ? ',' : c;
  ini_.WriteString("LAN", "Hosts", line);
}

bool TWConfig::GetLanDiscovery() const {
  return ini_.ReadString("LAN", "Discover") == "1";
}

void TWConfig::SetLanDiscovery(bool enabled) {
  ini_.WriteString("LAN", "Discover", enabled ? "1" : "0");
}

void TWConfig::AddRecentFile(const std::string& path) {
  if (path.empty() || path.find_first_of("\r\n") != std::string::npos) return;
  recent_.erase(std::remove(recent_.begin(), recent_.end(), path), recent_.end());
  recent_.insert(recent_.begin(), path);
  if (static_cast<int>(recent_.size()) > kMaxRecentFiles) recent_.resize(kMaxRecentFiles);
  WriteRecent();
}

void TWConfig::RemoveRecentFile(const std::string& path) {
  recent_.erase(std::remove(recent_.begin(), recent_.end(), path), recent_.end());
  WriteRecent();
}

void TWConfig::ClearRecentFiles() {
  recent_.clear();
  WriteRecent();
}

void TWConfig::SetRecentFiles(const std::vector<std::string>& paths) {
  recent_.clear();
  for (const auto& p : paths) {
    if (static_cast<int>(recent_.size()) >= kMaxRecentFiles) break;
    if (p.empty() || p.find_first_of("\r\n") != std::string::npos) continue;
    if (std::find(recent_.begin(), recent_.end(), p) == recent_.end()) recent_.push_back(p);
  }
  WriteRecent();
}

void TWConfig::WriteRecent() {
  std::vector<std::pair<std::string, std::string>> kv;
  for (std::size_t i = 0; i < recent_.size(); ++i)
    kv.push_back({"File" + std::to_string(i + 1), recent_[i]});
  ini_.ReplaceSection(kRecentSection, kv);
}

}  // namespace ondrevo
