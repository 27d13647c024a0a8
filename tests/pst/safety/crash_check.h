// Reading back what the crash writer (and the fault sweep) appended: message i of the folder
// must be crash message i, whole.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "pst/messaging/property_tags.h"
#include "pst/messaging/store.h"
#include "tools/crashtest/crash_messages.h"

namespace mailfold::pst::safety {

// The number of messages in `folderName` below the IPM root, each checked; -1 when the folder
// is missing.
inline int wholeMessages(const std::string& path, const std::string& folderName) {
  auto store = Store::open(path, false);
  auto folder = store->ipmRoot().child(folderName);
  if (!folder) return -1;
  const auto nids = folder->messages();
  EXPECT_EQ(folder->contentCount(), static_cast<std::int32_t>(nids.size()));
  for (std::uint32_t i = 0; i < nids.size(); ++i) {
    const MessageModel m = store->readMessage(nids[i]);
    const auto* subject = m.props.getAs<std::string>(kPrSubject);
    const auto* body = m.props.getAs<std::string>(kPrBody);
    EXPECT_TRUE(subject && *subject == crashtest::crashSubject(i)) << "message " << i;
    EXPECT_TRUE(body && *body == crashtest::crashBody(i)) << "message " << i;
    EXPECT_EQ(m.attachments.size(), i % 5 == 0 ? 1u : 0u) << "message " << i;
  }
  return static_cast<int>(nids.size());
}

}  // namespace mailfold::pst::safety
