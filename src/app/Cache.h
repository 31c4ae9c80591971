// Preview images of recently used documents, shown on the welcome window.
#pragma once

#include <functional>
#include <string>

class QImage;
class QWidget;

namespace ondrevo {

class TWConfig;

inline constexpr int kCacheImageWidth = 115;
inline constexpr int kCacheImageHeight = 56;

class TWCache {
 public:
  explicit TWCache(const TWConfig& config);  // settings folder + "/Cache"
  explicit TWCache(std::string cacheFolder);

  const std::string& CacheFolder() const { return folder_; }
  // 40 upper-case hex digits of the SHA-1 of the path's bytes.
  static std::string CacheFileName(const std::string& documentPath);
  std::string CacheFilePath(const std::string& documentPath) const;

  // Stores a BMP for the document; errors are ignored (a missing picture is harmless).
  void StoreImage(const std::string& documentPath, const QImage& bitmap) const;
  // False when there is no image or it cannot be read; `bitmap` is then left as it was.
  bool LoadImage(const std::string& documentPath, QImage& bitmap) const;
  // Deletes every file in the cache folder; errors ignored.
  void ClearCache() const;

 private:
  std::string folder_;
};

// Draws `plot` into a kCacheImageWidth x kCacheImageHeight picture and stores it for `path`.
// `prepare` switches the plot to its thumbnail look, `restore` back; restore runs and the picture
// drawn so far is stored even when a step throws.
void CreateCacheImage(const TWCache& cache, const std::string& path, QWidget* plot,
                      const std::function<void()>& prepare, const std::function<void()>& restore);

}  // namespace ondrevo
