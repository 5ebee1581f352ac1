#include "pages/common/IconLists.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

#include "core/TextUtil.h"
#include "platform/Desktop.h"

namespace {

// A page-shaped icon with a coloured band and a letter: used when the desktop has no icon theme.
QIcon DrawnIcon(const QColor& band, const QString& letter) {
  QIcon icon;
  for (int size : {16, 32}) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal m = size / 8.0;
    QRectF page(m, 0.5, size - 2 * m, size - 1.0);
    p.setPen(QPen(QColor(90, 90, 90), 1));
    p.setBrush(Qt::white);
    p.drawRect(page);
    p.fillRect(QRectF(page.left() + 1, page.bottom() - size * 0.45, page.width() - 1, size * 0.45 - 1), band);
    QFont f = p.font();
    f.setPixelSize(static_cast<int>(size * 0.4));
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(page.left(), page.bottom() - size * 0.45, page.width(), size * 0.45), Qt::AlignCenter, letter);
    p.end();
    icon.addPixmap(pm);
  }
  return icon;
}

QIcon StyleIcon(QStyle::StandardPixmap which) {
  return QApplication::style() ? QApplication::style()->standardIcon(which) : QIcon();
}

QIcon FallbackForKind(const std::string& kind, const std::string& ext) {
  if (kind == "text") return DrawnIcon(QColor(60, 110, 200), "T");
  if (kind == "image") return DrawnIcon(QColor(40, 160, 90), "I");
  if (kind == "audio") return DrawnIcon(QColor(200, 120, 30), "A");
  if (kind == "video") return DrawnIcon(QColor(170, 50, 160), "V");
  if (ext == ".zip" || ext == ".gz" || ext == ".tar" || ext == ".rar" || ext == ".tgz" || ext == ".7z" || ext == ".bz2" ||
      ext == ".xz")
    return DrawnIcon(QColor(150, 110, 40), "Z");
  if (kind == "application") return DrawnIcon(QColor(120, 120, 120), "D");
  return {};
}

}  // namespace

TIconLists::TIconLists() {
  QIcon folder = QIcon::fromTheme("folder");
  if (folder.isNull()) folder = StyleIcon(QStyle::SP_DirIcon);
  QIcon file = QIcon::fromTheme("text-x-generic");
  if (file.isNull()) file = StyleIcon(QStyle::SP_FileIcon);
  QIcon program = QIcon::fromTheme("application-x-executable");
  if (program.isNull()) program = StyleIcon(QStyle::SP_ComputerIcon);
  QIcon archive = QIcon::fromTheme("package-x-generic");
  if (archive.isNull()) archive = DrawnIcon(QColor(150, 110, 40), "Z");
  icons_ = {folder, file, program, archive};
}

QIcon TIconLists::Icon(int index) const {
  if (index < 0 || index >= static_cast<int>(icons_.size())) return icons_[1];
  return icons_[static_cast<size_t>(index)];
}

void TIconLists::ClearCache() {
  icons_.resize(4);
  IconExtensionCache.clear();
}

int TIconLists::FindFilesIcon(const std::string& name) {
  const std::string ext = LowerCase(ExtractFileExt(name));
  if (ext.empty()) return 1;
  if (ext != ".exe" && ext != ".ico") {
    for (size_t i = 0; i < IconExtensionCache.size(); ++i)
      if (IconExtensionCache[i] == ext) return static_cast<int>(i) + 4;
    ++Lookups;
    QIcon icon = ThemeIconForExtension(ext);
    if (icon.isNull()) icon = FallbackForKind(MimeKindForExtension(ext), ext);
    // Extensions without an icon are remembered too, showing the plain file icon.
    icons_.push_back(icon.isNull() ? icons_[1] : icon);
    IconExtensionCache.push_back(ext);
    return static_cast<int>(icons_.size()) - 1;
  }
  // Linux programs carry no icons of their own.
  return ext == ".exe" ? 2 : 1;
}
