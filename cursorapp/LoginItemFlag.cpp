#include "cursorapp/LoginItemFlag.h"

#include "platform/Bundle.h"
#include "platform/LoginItemsListAutostart.h"

#include <QDir>

bool loginItemIsHidden(const platform::Bundle &bundle)
{
    if (!bundle)
        return false;
    const std::unique_ptr<platform::AutostartLoginItemsList> list = platform::AutostartLoginItemsList::create();
    if (!list)
        return false;
    const auto items = list->snapshot();
    if (!items)
        return false;
    const QString ours = QDir::cleanPath(bundle.bundlePath());
    for (const platform::LoginItemsList::Item &item : *items) {
        const platform::LoginItemsList::Resolution resolution = list->resolve(item);
        if (resolution.status == platform::LoginItemsList::ResolveStatus::Resolved
            && QDir::cleanPath(resolution.url.toLocalFile()) == ours)
            return list->isHidden(item);
    }
    return false;
}
