// The conversion screen's question for the password of a store file protected by one, asked
// just before the store is opened.
#pragma once

#include <string>

namespace mailfold::run {

inline constexpr const char* kStorePasswordTitle = "Store Password";

// The text of the password box, naming the store file.
std::string StorePasswordPrompt(const std::string& storePath);

}  // namespace mailfold::run
