// Per-user settings: the settings folder, "Ondrevo.ini" and the recent-file list.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace ondrevo {

// Below the user's application-data folder.
inline constexpr const char* kSettingsSubfolder = "/Kestravo/Ondrevo/Designer";
inline constexpr const char* kSettingsFileName = "Ondrevo.ini";
inline constexpr const char* kRecentSection = "TGraphForm.MRUManager";
inline constexpr int kMaxRecentFiles = 9;

// Serial-port defaults for device discovery.
struct RS232Defaults {
  std::int32_t BaudRate = 9600;
  std::int32_t DataBits = 8;
  std::int32_t Parity = 0;        // 0 none, 1 odd, 2 even
  std::int32_t StopBits = 0;      // 0 one stop bit, 2 two
  std::int32_t Handshake = 4880;  // 4112 none, 4880 Xon/Xoff, 8212 RTS/CTS, 4136 DTR/DSR
  friend bool operator==(const RS232Defaults&, const RS232Defaults&) = default;
};

// Settings folder for `subfolder`: $APPDATA + subfolder when APPDATA is set, else
// $XDG_CONFIG_HOME (default ~/.config) + subfolder. Not created here.
std::string ResolveSettingsFolder(const std::string& subfolder = kSettingsSubfolder);

// One ini file kept in memory; every change is written at once, atomically.
class TIniFile {
 public:
  explicit TIniFile(std::string path);  // reads the file when it exists
  const std::string& Path() const { return path_; }
  bool HasKey(const std::string& section, const std::string& key) const;
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& def = {}) const;
  // Keys in file order.
  std::vector<std::pair<std::string, std::string>> ReadSection(const std::string& section) const;
  // These write the file; raise std::system_error naming it when that fails.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteStrings(const std::string& section,
                    const std::vector<std::pair<std::string, std::string>>& values);
  void ReplaceSection(const std::string& section,
                      const std::vector<std::pair<std::string, std::string>>& values);
  void Flush() const;

 private:
  using Section = std::vector<std::pair<std::string, std::string>>;
  std::string path_;
  std::vector<std::pair<std::string, Section>> sections_;
  Section* Find(const std::string& section);
  const Section* Find(const std::string& section) const;
};

// The settings object, created once at start and shared by the whole program.
class TWConfig {
 public:
  // Resolves and creates the settings folder, reads "Ondrevo.ini". `defaultLibraryPath` is the
  // library folder used while the file names none.
  explicit TWConfig(const std::string& defaultLibraryPath,
                    const std::string& subfolder = kSettingsSubfolder);

  const std::string& GetSettingsFolder() const { return folder_; }
  TIniFile& Settings() { return ini_; }
  const TIniFile& Settings() const { return ini_; }

  const std::string& LibraryPath() const { return libraryPath_; }
  void SetLibraryPath(const std::string& path);

  const RS232Defaults& GetRS232Defaults() const { return rs232_; }
  void SetRS232Defaults(const RS232Defaults& values);
  // Hosts the LAN search probes (names or addresses, comma-separated, each optionally :PORT) and
  // whether it also searches the network.
  std::string GetLanHosts() const;
  void SetLanHosts(const std::string& hosts);
  bool GetLanDiscovery() const;
  void SetLanDiscovery(bool enabled);

  // The editor's recent-file list, most recent first, at most kMaxRecentFiles entries, stored in
  // kRecentSection on every change.
  const std::vector<std::string>& RecentFiles() const { return recent_; }
  void AddRecentFile(const std::string& path);  // moves or inserts it at the top
  void RemoveRecentFile(const std::string& path);
  void ClearRecentFiles();
  void SetRecentFiles(const std::vector<std::string>& paths);  // keeps the first nine

 private:
  std::string folder_;
  TIniFile ini_;
  std::string libraryPath_;
  RS232Defaults rs232_;
  std::vector<std::string> recent_;
  void WriteRecent();
};

}  // namespace ondrevo
