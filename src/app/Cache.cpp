#include "app/Cache.h"

#include <openssl/evp.h>

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QWidget>
#include <filesystem>

#include "app/Config.h"
#include "document/AtomicFile.h"

namespace ondrevo {

namespace fs = std::filesystem;

namespace {
// A preview is a few hundred KB; anything far larger is not one of ours.
constexpr std::size_t kMaxCacheImageBytes = 64u * 1024u * 1024u;
}  // namespace

TWCache::TWCache(const TWConfig& config) : folder_(config.GetSettingsFolder() + "/Cache") {}
TWCache::TWCache(std::string cacheFolder) : folder_(std::move(cacheFolder)) {}

std::string TWCache::CacheFileName(const std::string& documentPath) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!EVP_Digest(documentPath.data(), documentPath.size(), digest, &length, EVP_sha1(), nullptr))
    return {};
  static const char* const hex = "0123456789ABCDEF";
  std::string name;
  for (unsigned int i = 0; i < length; ++i) {
    name += hex[digest[i] >> 4];
    name += hex[digest[i] & 15];
  }
  return name;
}

std::string TWCache::CacheFilePath(const std::string& documentPath) const {
  return folder_ + "/" + CacheFileName(documentPath);
}

void TWCache::StoreImage(const std::string& documentPath, const QImage& bitmap) const {
  std::error_code ec;
  fs::create_directory(folder_, ec);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!bitmap.save(&buffer, "BMP")) return;
  // Atomic, so that a reader never sees half a picture; a FIFO or device in its place is left
  // alone rather than written to (which could block).
  const std::string target = CacheFilePath(documentPath);
  const std::string_view data(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  try {
    WriteFileAtomically(target, data);
  } catch (const EFileRefused&) {
    // A read-only preview of ours is replaced, as clearing the cache deletes it too.
    std::error_code ignored;
    if (fs::is_regular_file(fs::symlink_status(target, ignored)) && fs::remove(target, ignored)) {
      try {
        WriteFileAtomically(target, data);
      } catch (const std::exception&) {
      }
    }
  } catch (const std::exception&) {
    // a preview that cannot be stored is drawn again next time
  }
}

bool TWCache::LoadImage(const std::string& documentPath, QImage& bitmap) const {
  // Only a regular file, opened without blocking: a FIFO in its place must not hang start-up.
  std::string data;
  try {
    data = ReadWholeFile(CacheFilePath(documentPath), kMaxCacheImageBytes);
  } catch (const std::exception&) {
    return false;
  }
  QImage image;
  if (!image.loadFromData(reinterpret_cast<const uchar*>(data.data()),
                          static_cast<int>(data.size()), "BMP"))
    return false;
  bitmap = image;
  return true;
}

void TWCache::ClearCache() const {
  std::error_code ec;
  for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code ignored;
    if (it->is_regular_file(ignored)) {
      // Read-only files are deleted too.
      fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
      fs::remove(it->path(), ignored);
    }
  }
}

void CreateCacheImage(const TWCache& cache, const std::string& path, QWidget* plot,
                      const std::function<void()>& prepare, const std::function<void()>& restore) {
  QImage bitmap(kCacheImageWidth, kCacheImageHeight, QImage::Format_RGB32);
  bitmap.fill(Qt::white);
  try {
    if (prepare) prepare();
    if (plot) {
      QImage shot = plot->grab().toImage();
      QPainter painter(&bitmap);
      painter.setRenderHint(QPainter::SmoothPixmapTransform);
      painter.drawImage(QRect(0, 0, kCacheImageWidth, kCacheImageHeight), shot);
    }
  } catch (...) {
    // keep what was drawn
  }
  try {
    if (restore) restore();
  } catch (...) {
  }
  cache.StoreImage(path, bitmap);
}

}  // namespace ondrevo
