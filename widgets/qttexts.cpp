#include "qttexts.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {
const QString kTranslatorName = QStringLiteral("germanQtTexts");
}  // namespace

QString qtTranslationsFolder() { return QLibraryInfo::path(QLibraryInfo::TranslationsPath); }

bool installGermanQtTexts(const QString& folder) {
    QCoreApplication* application = QCoreApplication::instance();
    if (!application) return false;
    if (application->findChild<QTranslator*>(kTranslatorName, Qt::FindDirectChildrenOnly)) return true;
    auto* translator = new QTranslator(application);
    translator->setObjectName(kTranslatorName);
    // qtbase_de.qm: the buttons, the message boxes and the file dialog.
    if (!translator->load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qtbase"), QStringLiteral("_"),
                          folder)) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}
