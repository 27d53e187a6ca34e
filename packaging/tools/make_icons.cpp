// make_icons OUTDIR: the window's icon as PNG files OUTDIR/<n>x<n>/apps/morlane.png at the
// sizes of the desktop's icon theme, drawn by the same code the window draws it with.
#include <QDir>
#include <QGuiApplication>
#include <QPixmap>

#include <cstdio>

#include "gui/app_icon.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_icons OUTDIR\n");
    return 2;
  }
  // Drawing needs no display; the build machine may have none.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication application(argc, argv);
  const QString root = QString::fromLocal8Bit(argv[1]);
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const QString dir = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
    if (!QDir().mkpath(dir) ||
        !morlane::gui::AppIconPixmap(size).save(dir + QStringLiteral("/morlane.png"), "PNG")) {
      std::fprintf(stderr, "make_icons: cannot write the %dx%d icon\n", size, size);
      return 1;
    }
  }
  return 0;
}
