#pragma once

#include "Bundle.h"
#include "LoginItemsList.h"

#include <functional>
#include <memory>

// The login item functions over a list of the caller's choice, for tests.
// The factory runs once per call and may return null (no list to be had).
// The exported functions use the user's autostart entries.
using LoginItemsListFactory = std::function<std::unique_ptr<loginitems::LoginItemsList>()>;

void PTAddBundleToLoginItems(const settings::Bundle &bundle, bool hidden,
                             const LoginItemsListFactory &createList);
void PTRemoveBundleFromLoginItems(const settings::Bundle &bundle,
                                  const LoginItemsListFactory &createList);
bool PTIsBundleInLoginItems(const settings::Bundle &bundle, const LoginItemsListFactory &createList);

namespace loginitems {

bool isBundleHiddenInLoginItems(const settings::Bundle &bundle, const LoginItemsListFactory &createList);

} // namespace loginitems
