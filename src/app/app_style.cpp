#include "app/app_style.h"

#include <QFont>

// Resources of a static library are registered by hand, outside any namespace.
static void initAppResources() {
    Q_INIT_RESOURCE(app_resources);
}

namespace k9 {

void initResources() {
    initAppResources();
}

QIcon appIcon() {
    initResources();
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/k9/k9_icon_%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

void installFontFallbacks() {
    // Tahoma and MS Sans Serif are narrow; Wine's Tahoma and Liberation Sans keep the labels'
    // texts inside their designed widths better than the wider DejaVu Sans.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Tahoma"),
                                QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                                QStringLiteral("DejaVu Sans")});
    QFont::insertSubstitutions(QStringLiteral("Tahoma"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                                QStringLiteral("DejaVu Sans")});
}

QString progressBarStyle() {
    return QStringLiteral(
        "QProgressBar { background-color: rgb(255, 255, 255); border: 1px solid rgb(128, 128, "
        "128); }"
        "QProgressBar::chunk { background-color: rgb(255, 0, 49); }");
}

}  // namespace k9
