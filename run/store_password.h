// The wizard's question for the password of a store file protected by one, asked by the store
// engine just before it adds to the store.
#pragma once

#include <optional>
#include <string>

#include "run/dialog_service.h"

namespace mailfold::run {

inline constexpr const char* kStorePasswordTitle = "Store Password";

// The text of the password box, naming the store file.
std::string StorePasswordPrompt(const std::string& storePath);

// Asks the user for the password of the store file at `storePath`; nothing when they cancelled.
std::optional<std::string> AskStorePassword(DialogService& dialogs, const std::string& storePath);

}  // namespace mailfold::run
