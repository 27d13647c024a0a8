// The named properties registered in every new store, as Outlook registers them in its own.
#pragma once

#include <vector>

#include "pst/messaging/message_model.h"

namespace mailfold::pst {

std::vector<NamedPropertyKey> initialNamedProperties();

}  // namespace mailfold::pst
