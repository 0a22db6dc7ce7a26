#include "DroppedFiles.h"

#include <QFile>
#include <QMimeData>
#include <QUrl>
#include <cctype>

namespace tavrin {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

// "file:///p", "file://localhost/p" and "file:/p" name local files; any other host does not.
bool LocalPathOfUri(std::string_view uri, std::string& path) {
  constexpr std::string_view scheme = "file:";
  if (uri.size() < scheme.size()) return false;
  for (std::size_t i = 0; i < scheme.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(uri[i])) != scheme[i]) return false;
  }
  std::string_view rest = uri.substr(scheme.size());
  if (rest.starts_with("//")) {
    rest.remove_prefix(2);
    std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos) return false;
    std::string_view host = rest.substr(0, slash);
    if (!host.empty() && host != "localhost") return false;
    rest.remove_prefix(slash);
  }
  if (!rest.starts_with("/")) return false;
  std::size_t end = rest.find_first_of("?#");
  path = PercentDecode(rest.substr(0, end));
  return !path.empty();
}

// A decoded name may hold a NUL ("%00"), where the system would end it: the path is cut there
// when it is listed, so that the row, the file read and the output's name all agree.
std::string CutAtFirstNul(std::string path) {
  const std::size_t nul = path.find('\0');
  if (nul != std::string::npos) path.resize(nul);
  return path;
}

}  // namespace

std::vector<std::string> LocalPathsFromMimeData(const QMimeData& mime) {
  std::vector<std::string> paths;
  const QString uriList = QStringLiteral("text/uri-list");
  if (mime.hasFormat(uriList)) {
    // The raw list keeps names that are not valid UTF-8 byte for byte.
    const QByteArray raw = mime.data(uriList);
    for (const QByteArray& line : raw.split('\n')) {
      QByteArray uri = line.trimmed();
      if (uri.isEmpty() || uri.startsWith('#')) continue;
      std::string path;
      if (LocalPathOfUri(std::string_view(uri.constData(), uri.size()), path)) {
        paths.push_back(CutAtFirstNul(std::move(path)));
      }
    }
    return paths;
  }
  for (const QUrl& url : mime.urls()) {
    if (url.isLocalFile()) {
      paths.push_back(CutAtFirstNul(QFile::encodeName(url.toLocalFile()).toStdString()));
    }
  }
  return paths;
}

}  // namespace tavrin
