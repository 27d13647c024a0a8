// A 50 MB attachment goes in and comes out unchanged, streamed both ways. Slower than the
// other tests, so it has a suite of its own.
#include <gtest/gtest.h>

#include <fstream>

#include "pst/messaging/property_tags.h"
#include "pst/messaging/store.h"
#include "pst/messaging/store_check.h"
#include "sample_mail.h"
#include "support/temp_dir.h"

namespace mailfold::pst {
namespace {

TEST(LargeAttachment, FiftyMegabytesRoundTripThroughEveryReader) {
  constexpr std::uint64_t kSize = 50ull * 1024 * 1024 + 12345;  // not a multiple of the block size
  test::TempDir dir;
  const std::string path = dir.str() + "/large.pst";
  {
    auto store = Store::create(path, "Large");
    Folder f = store->ipmRoot().addChild("Big");
    MessageModel m = test::sampleMessage(1);
    m.attachments.clear();
    Attachment a;
    a.props.set(kPrAttachLongFilename, std::string("fifty.bin"));
    a.props.set(kPrAttachDataBin, std::shared_ptr<const ByteSource>(std::make_shared<test::PatternSource>(kSize, 77)));
    m.attachments.push_back(std::move(a));
    f.addMessage(m, kMsgFlagRead);
    store->close();
  }
  {
    auto store = Store::open(path, false);
    const Folder f = store->folderByPath("\\Big");
    ASSERT_EQ(f.messages().size(), 1u);
    const MessageModel m = store->readMessage(f.messages()[0]);
    ASSERT_EQ(m.attachments.size(), 1u);
    EXPECT_GE(*m.attachments[0].props.getAs<std::int32_t>(kPrAttachSize), static_cast<std::int32_t>(kSize));
    const auto* data = m.attachments[0].props.getAs<std::shared_ptr<const ByteSource>>(kPrAttachDataBin);
    ASSERT_TRUE(data && *data);
    ASSERT_EQ((*data)->size(), kSize);
    std::vector<std::uint8_t> buf(1 << 20);
    bool same = true;
    for (std::uint64_t at = 0; at < kSize && same;) {
      const std::size_t n = (*data)->read(at, buf);
      ASSERT_GT(n, 0u);
      for (std::size_t k = 0; k < n; ++k) same = same && buf[k] == test::patternByte(at + k, 77);
      at += n;
    }
    EXPECT_TRUE(same);
    EXPECT_GE(*m.props.getAs<std::int32_t>(kPrMessageSize), static_cast<std::int32_t>(kSize));
  }
  std::string lines;
  for (const auto& v : checkStore(path)) lines += v + "\n";
  EXPECT_EQ(lines, "");

  const std::string manifest = dir.str() + "/manifest.json";
  std::ofstream(manifest) << "{\"folders\":[{\"path\":\"Big\",\"messages\":[{\"subject\":\"" << test::sampleSubject(1)
                          << "\",\"body\":\"Body of message 1\\r\\nZweite Zeile – äöü ß, 日本語.\",\"html\":null,"
                          << "\"attachments\":[{\"name\":\"fifty.bin\",\"size\":" << kSize << ",\"seed\":77}]}]}]}";
  for (const char* reader : {"pffexport", "readpst", "npm"}) {
    SCOPED_TRACE(reader);
    std::string output;
    const int rc = test::compareWithReader(reader, path, manifest, output);
    if (rc == 77) continue;  // that reader is not installed here
    EXPECT_EQ(rc, 0) << output;
  }
}

}  // namespace
}  // namespace mailfold::pst
