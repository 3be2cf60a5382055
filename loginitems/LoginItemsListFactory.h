#pragma once

#include "platform/Bundle.h"
#include "platform/LoginItemsList.h"

#include <functional>
#include <memory>

// The login item functions over a list of the caller's choice, for tests.
// The factory runs once per call and may return null (no list to be had).
// The exported functions use the user's autostart entries.
using LoginItemsListFactory = std::function<std::unique_ptr<platform::LoginItemsList>()>;

void PTAddBundleToLoginItems(const platform::Bundle &bundle, bool hidden,
                             const LoginItemsListFactory &createList);
void PTRemoveBundleFromLoginItems(const platform::Bundle &bundle,
                                  const LoginItemsListFactory &createList);
bool PTIsBundleInLoginItems(const platform::Bundle &bundle, const LoginItemsListFactory &createList);
