// vandrel-iconrender DIR SIZE...: writes the program's picture as DIR/<SIZE>x<SIZE>/apps/
// vandrel.png for each SIZE, the layout of an icon theme. A build step for installing.
#include <QDir>
#include <QImage>
#include <QString>

#include <cstdio>

#include "app/AppIcon.h"

int main(int argc, char* argv[]) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: vandrel-iconrender DIR SIZE...\n");
        return 2;
    }
    const QString top = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const int size = QString::fromLatin1(argv[i]).toInt();
        const QImage picture = vandrel::app::AppPicture(size);
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(top).arg(size);
        if (picture.isNull() || !QDir().mkpath(dir) ||
            !picture.save(dir + QStringLiteral("/vandrel.png"))) {
            std::fprintf(stderr, "vandrel-iconrender: cannot write the %s pixel icon\n", argv[i]);
            return 1;
        }
    }
    return 0;
}
