// A 100 MB attachment is decoded once, into a temporary file, and read back in pieces: the
// import never holds it in memory, let alone twice.
#include <glib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <random>
#include <thread>

#include "mime/importer.h"
#include "paperclip.h"
#include "model_json.h"
#include "pst/messaging/property_tags.h"
#include "support/temp_dir.h"

using namespace mailfold;

namespace {

long residentBytes() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

// Samples the resident set size on a thread while `work` runs; returns the peak growth.
template <class F>
long peakGrowthWhile(F&& work) {
  const long before = residentBytes();
  std::atomic<bool> done{false};
  std::atomic<long> peak{before};
  std::thread sampler([&] {
    while (!done) {
      const long now = residentBytes();
      if (now > peak) peak = now;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  work();
  done = true;
  sampler.join();
  return peak - before;
}

}  // namespace

TEST(LargeAttachment, HundredMegabytesAreStreamedNotCopied) {
  constexpr std::size_t kSize = 100u << 20;
  test::TempDir dir;
  const std::string path = (dir.path() / "big.eml").string();
  std::string expectedSha;
  {
    std::ofstream out(path, std::ios::binary);
    out << "From: a@example.com\r\nSubject: big\r\nContent-Type: multipart/mixed; boundary=B\r\n\r\n"
           "--B\r\nContent-Type: text/plain\r\n\r\nsee attached\r\n"
           "--B\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; filename=big.bin\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\n";
    GChecksum* sum = g_checksum_new(G_CHECKSUM_SHA256);
    std::mt19937_64 random(42);
    std::vector<std::uint64_t> chunk(57 * 1024 / 8 * 8);  // a multiple of 3 bytes per line group
    std::vector<char> encoded(chunk.size() * 8 * 4 / 3 + 4096);
    std::size_t written = 0;
    while (written < kSize) {
      for (auto& v : chunk) v = random();
      const std::size_t n = std::min(chunk.size() * 8 / 57 * 57, kSize - written);
      g_checksum_update(sum, reinterpret_cast<const guchar*>(chunk.data()), static_cast<gssize>(n));
      // 57 raw bytes per 76-character line.
      std::string lines;
      for (std::size_t off = 0; off < n; off += 57) {
        char* b64 = g_base64_encode(reinterpret_cast<const guchar*>(chunk.data()) + off, std::min<std::size_t>(57, n - off));
        lines += b64;
        lines += "\r\n";
        g_free(b64);
      }
      out << lines;
      written += n;
    }
    out << "--B--\r\n";
    expectedSha = g_checksum_get_string(sum);
    g_checksum_free(sum);
  }

  pst::MessageModel model;
  const long growth = peakGrowthWhile([&] { model = mime::importMessageFile(path, {}); });
  ASSERT_EQ(model.attachments.size(), 1u);
  const auto* data = model.attachments[0].props.getAs<std::shared_ptr<const pst::ByteSource>>(pst::kPrAttachDataBin);
  ASSERT_TRUE(data && *data);
  EXPECT_EQ((*data)->size(), kSize);
  EXPECT_EQ(dynamic_cast<const pst::MemorySource*>(data->get()), nullptr) << "large content must not sit in memory";
  EXPECT_LT(growth, 48l << 20) << "the import grew the resident set by " << (growth >> 20) << " MB";
  EXPECT_EQ(test::sha256Of(**data), expectedSha);
  EXPECT_EQ(*model.attachments[0].props.getAs<std::int32_t>(pst::kPrAttachSize), static_cast<std::int32_t>(kSize));
  EXPECT_TRUE(mailfold::test::paperclipShows(model));
}
