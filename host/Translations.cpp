#include "Translations.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>

#include <memory>

using namespace Qt::StringLiterals;

namespace host {

bool installTranslator(const QString &folder, const QString &baseName)
{
    auto translator = std::make_unique<QTranslator>(QCoreApplication::instance());
    if (!translator->load(QLocale(), baseName, u"_"_s, folder))
        return false;
    return QCoreApplication::installTranslator(translator.release());
}

} // namespace host
