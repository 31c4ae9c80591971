// Settings file, recent list and preview cache.
#include <sys/stat.h>

#include <QImage>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/Cache.h"
#include "app/Config.h"

using namespace ondrevo;
namespace fs = std::filesystem;

namespace {
std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
void WriteFile(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}
}  // namespace

class ShellConfigTest : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;
  std::string folder_;

 private slots:
  void init() {
    QVERIFY(dir_.isValid());
    qputenv("APPDATA", dir_.path().toUtf8() + "/appdata");
    folder_ = dir_.path().toStdString() + "/appdata" + kSettingsSubfolder;
    fs::remove_all(dir_.path().toStdString() + "/appdata");
  }

  void settingsFolderFollowsEnvironment() {
    QCOMPARE(ResolveSettingsFolder(), folder_);
    qunsetenv("APPDATA");
    qputenv("XDG_CONFIG_HOME", "/x/conf");
    QCOMPARE(ResolveSettingsFolder(), std::string("/x/conf/Kestravo/Ondrevo/Designer"));
    qunsetenv("XDG_CONFIG_HOME");
    qputenv("HOME", "/home/u");
    QCOMPARE(ResolveSettingsFolder(), std::string("/home/u/.config/Kestravo/Ondrevo/Designer"));
  }

  void missingFolderIsCreatedAndDefaultsApply() {
    TWConfig config("/lib/default");
    QVERIFY(fs::is_directory(folder_));
    QCOMPARE(config.GetSettingsFolder(), folder_);
    QCOMPARE(config.LibraryPath(), std::string("/lib/default"));
    QVERIFY(config.GetRS232Defaults() == RS232Defaults{});
    QVERIFY(config.RecentFiles().empty());
  }

  void rs232Keys_data() {
    QTest::addColumn<QString>("section");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("handshake");
    QTest::newRow("no section") << "[General]\nLibraryPath=/l\n" << 9600 << 4880;
    QTest::newRow("all read") << "[RS232.Default]\nBaudRate=14400\nDataBits=7\nParity=1\n"
                                 "StopBits=2\nHandshake=1234\n"
                              << 14400 << 1234;
    // One unreadable key puts all five back to their defaults.
    QTest::newRow("non-numeric") << "[RS232.Default]\nBaudRate=19200\nHandshake=abc\n"
                                 << 9600 << 4880;
    QTest::newRow("out of range") << "[RS232.Default]\nBaudRate=99999999999\n" << 9600 << 4880;
    QTest::newRow("crlf and blanks") << "[RS232.Default]\r\n BaudRate = 300 \r\n" << 300 << 4880;
  }
  void rs232Keys() {
    QFETCH(QString, section);
    QFETCH(int, baud);
    QFETCH(int, handshake);
    WriteFile(folder_ + "/Ondrevo.ini", section.toStdString());
    TWConfig config("/lib");
    QCOMPARE(config.GetRS232Defaults().BaudRate, baud);
    QCOMPARE(config.GetRS232Defaults().Handshake, handshake);
    if (baud == 9600) {
      QCOMPARE(config.GetRS232Defaults().DataBits, 8);
      QCOMPARE(config.GetRS232Defaults().Parity, 0);
    }
  }

  void settingsSurviveARestart() {
    {
      TWConfig config("/lib");
      config.SetLibraryPath("/my lib=with equals");
      config.SetRS232Defaults({115200, 7, 2, 2, 8212});
      config.Settings().WriteString("TGraphForm", "Placement", "AAAB");
      for (int i = 1; i <= 11; ++i) config.AddRecentFile("/docs/f" + std::to_string(i) + ".ovx");
    }
    TWConfig again("/lib");
    QCOMPARE(again.LibraryPath(), std::string("/my lib=with equals"));
    QVERIFY((again.GetRS232Defaults() == RS232Defaults{115200, 7, 2, 2, 8212}));
    QCOMPARE(again.Settings().ReadString("TGraphForm", "Placement"), std::string("AAAB"));
    QCOMPARE(int(again.RecentFiles().size()), 9);
    QCOMPARE(again.RecentFiles().front(), std::string("/docs/f11.ovx"));
    QCOMPARE(again.RecentFiles().back(), std::string("/docs/f3.ovx"));
    const std::string ini = ReadFile(folder_ + "/Ondrevo.ini");
    QVERIFY(ini.find("[TGraphForm.MRUManager]") != std::string::npos);
    QVERIFY(ini.find("Handshake=8212") != std::string::npos);
    QVERIFY(!fs::exists(folder_ + "/Ondrevo.ini.tmp"));
  }

  void recentListMovesDuplicatesToTop() {
    TWConfig config("/lib");
    config.AddRecentFile("/a.ovx");
    config.AddRecentFile("/b.ovx");
    config.AddRecentFile("/a.ovx");
    QCOMPARE(config.RecentFiles(), (std::vector<std::string>{"/a.ovx", "/b.ovx"}));
    config.AddRecentFile("/bad\nname.ovx");  // would break the file's line structure
    QCOMPARE(int(config.RecentFiles().size()), 2);
    config.RemoveRecentFile("/a.ovx");
    QCOMPARE(config.RecentFiles(), (std::vector<std::string>{"/b.ovx"}));
    config.ClearRecentFiles();
    QVERIFY(TWConfig("/lib").RecentFiles().empty());
  }

  void unwritableFolderRaisesNamingTheFile() {
    TWConfig config("/lib");
    fs::remove_all(folder_);
    WriteFile(folder_ + "x", "");  // parent exists, folder does not
    bool raised = false;
    try {
      config.SetLibraryPath("/x");
    } catch (const std::exception& e) {
      raised = std::string(e.what()).find("Ondrevo.ini") != std::string::npos;
    }
    QVERIFY(raised);
  }

  void cacheNameRule() {
    // SHA-1 test vector of "abc".
    QCOMPARE(TWCache::CacheFileName("abc"),
             std::string("A9993E364706816ABA3E25717850C26C9CD0D89D"));
    QCOMPARE(TWCache::CacheFileName("/home/u/a.ovx"), TWCache::CacheFileName("/home/u/a.ovx"));
    QVERIFY(TWCache::CacheFileName("/home/u/a.ovx") !=
            TWCache::CacheFileName("/home/u/../u/a.ovx"));
  }

  void cacheStoresLoadsAndClears() {
    TWConfig config("/lib");
    TWCache cache(config);
    QCOMPARE(cache.CacheFolder(), folder_ + "/Cache");
    QImage picture(kCacheImageWidth, kCacheImageHeight, QImage::Format_RGB32);
    picture.fill(QColor(10, 200, 30));
    cache.StoreImage("/d/one.ovx", picture);
    const std::string file = cache.CacheFilePath("/d/one.ovx");
    QVERIFY(fs::exists(file));
    QCOMPARE(ReadFile(file).substr(0, 2), std::string("BM"));

    QImage loaded;
    QVERIFY(cache.LoadImage("/d/one.ovx", loaded));
    QCOMPARE(loaded.size(), QSize(115, 56));
    QCOMPARE(loaded.pixelColor(5, 5), QColor(10, 200, 30));

    QImage untouched(3, 3, QImage::Format_RGB32);
    QVERIFY(!cache.LoadImage("/d/other.ovx", untouched));
    QCOMPARE(untouched.size(), QSize(3, 3));
    WriteFile(cache.CacheFilePath("/d/broken.ovx"), "not a picture");
    QVERIFY(!cache.LoadImage("/d/broken.ovx", untouched));
    QCOMPARE(untouched.size(), QSize(3, 3));

    fs::permissions(file, fs::perms::owner_read, fs::perm_options::replace);
    cache.ClearCache();
    QVERIFY(fs::is_empty(cache.CacheFolder()));
    cache.ClearCache();  // nothing to delete: no error
  }

  // A FIFO in place of the settings file or a preview must not block start-up: only regular
  // files are opened, without blocking (a FIFO without a writer would wait for ever).
  void fifosInPlaceOfFilesDoNotBlock() {
    fs::create_directories(folder_ + "/Cache");
    const std::string ini = folder_ + "/" + kSettingsFileName;
    QCOMPARE(::mkfifo(ini.c_str(), 0600), 0);
    TWConfig config("/lib");
    QVERIFY(config.RecentFiles().empty());
    QVERIFY(fs::is_fifo(ini));

    TWCache cache(config);
    const std::string preview = cache.CacheFilePath("/d/fifo.ovx");
    QCOMPARE(::mkfifo(preview.c_str(), 0600), 0);
    QImage image(3, 3, QImage::Format_RGB32);
    QVERIFY(!cache.LoadImage("/d/fifo.ovx", image));
    QCOMPARE(image.size(), QSize(3, 3));
    cache.StoreImage("/d/fifo.ovx", QImage(4, 4, QImage::Format_RGB32));
    QVERIFY(fs::is_fifo(preview));
    // A read-only preview is still replaced.
    QImage green(kCacheImageWidth, kCacheImageHeight, QImage::Format_RGB32);
    green.fill(QColor(0, 255, 0));
    cache.StoreImage("/d/ro.ovx", QImage(4, 4, QImage::Format_RGB32));
    fs::permissions(cache.CacheFilePath("/d/ro.ovx"), fs::perms::owner_read,
                    fs::perm_options::replace);
    cache.StoreImage("/d/ro.ovx", green);
    QVERIFY(cache.LoadImage("/d/ro.ovx", image));
    QCOMPARE(image.pixelColor(1, 1), QColor(0, 255, 0));
  }

  void cacheErrorsAreIgnored() {
    TWCache cache(std::string("/proc/no/such/folder"));
    cache.StoreImage("/x.ovx", QImage(4, 4, QImage::Format_RGB32));
    cache.ClearCache();
    QImage image;
    QVERIFY(!cache.LoadImage("/x.ovx", image));
  }

  void createCacheImageRestoresAfterAFault() {
    TWConfig config("/lib");
    TWCache cache(config);
    QWidget plot;
    plot.resize(460, 224);
    plot.setStyleSheet("background: rgb(0, 0, 255)");
    plot.setAutoFillBackground(true);
    bool restored = false;
    CreateCacheImage(
        cache, "/p.ovx", &plot, [] {}, [&] { restored = true; });
    QVERIFY(restored);
    QImage image;
    QVERIFY(cache.LoadImage("/p.ovx", image));
    QCOMPARE(image.size(), QSize(115, 56));

    restored = false;
    CreateCacheImage(
        cache, "/q.ovx", &plot, [] { throw std::runtime_error("plot gone"); },
        [&] { restored = true; });
    QVERIFY(restored);
    QVERIFY(cache.LoadImage("/q.ovx", image));
  }
};

QTEST_MAIN(ShellConfigTest)
#include "shell_config_test.moc"
