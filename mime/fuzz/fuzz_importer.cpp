// libFuzzer entry point: any byte string is handed to the importer and what it returns is
// written into a store. The import must either succeed or fail with ImportError; the model
// must hold only well-formed text (mime/fuzz/model_checks.h); the store must take every model
// the importer makes. Anything else (a crash, a hang, a leak, a sanitizer report, an abort
// below) is a finding.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include <glib.h>

#include "mime/fuzz/model_checks.h"
#include "mime/importer.h"
#include "pst/messaging/store.h"

namespace {

using namespace mailfold;

// One store per process, replaced every so many messages so that it stays small and its
// close (the commit of everything added) runs often too.
constexpr int kMessagesPerStore = 64;

class StoreSink {
 public:
  StoreSink() {
    const char* dir = std::getenv("MAILFOLD_FUZZ_STORE_DIR");
    path_ = std::string(dir ? dir : "/tmp") + "/fuzz_importer." + std::to_string(getpid()) + ".pst";
  }
  ~StoreSink() { reset(); }

  void add(pst::MessageModel model) {
    if (!store_) {
      std::remove(path_.c_str());
      store_ = pst::Store::create(path_, "Fuzz");
      folder_ = store_->ipmRoot().addChild("Imported");
    }
    folder_->addMessage(std::move(model));
    if (++added_ == kMessagesPerStore) reset();
  }

 private:
  void reset() {
    if (store_) store_->close();
    folder_.reset();
    store_.reset();
    std::remove(path_.c_str());
    added_ = 0;
  }

  std::string path_;
  std::unique_ptr<pst::Store> store_;
  std::optional<pst::Folder> folder_;
  int added_ = 0;
};

[[noreturn]] void finding(const char* what, const std::string& detail) {
  std::fprintf(stderr, "finding: %s: %s\n", what, detail.c_str());
  std::abort();
}

// An input that starts with the TNEF signature is a winmail.dat: it is sent in a message of its
// own, so that mutations reach the TNEF reader rather than the base64 around it. The checksum
// of every attribute that fits is made right first (when the input's first byte after the
// signature is even), or nearly every mutation would stop at the first checksum.
std::string messageWithWinmailDat(const std::uint8_t* input, std::size_t size) {
  std::string stream(reinterpret_cast<const char*>(input), size);
  if (size > 4 && (input[4] & 1) == 0) {
    auto* data = reinterpret_cast<std::uint8_t*>(stream.data());
    std::size_t at = 6;
    while (at + 9 <= size) {
      const std::uint32_t length = data[at + 5] | data[at + 6] << 8 | data[at + 7] << 16 | std::uint32_t{data[at + 8]} << 24;
      if (length > size - at - 9 || size - at - 9 - length < 2) break;
      std::uint32_t sum = 0;
      for (std::size_t i = 0; i < length; ++i) sum += data[at + 9 + i];
      data[at + 9 + length] = static_cast<std::uint8_t>(sum);
      data[at + 10 + length] = static_cast<std::uint8_t>(sum >> 8);
      at += 11 + length;
    }
  }
  gchar* encoded = g_base64_encode(reinterpret_cast<const guchar*>(stream.data()), stream.size());
  std::string message =
      "Subject: tnef\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nbody\r\n"
      "--b\r\nContent-Type: application/ms-tnef; name=winmail.dat\r\nContent-Transfer-Encoding: base64\r\n\r\n";
  message += encoded;
  message += "\r\n--b--\r\n";
  g_free(encoded);
  return message;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static StoreSink sink;
  std::string wrapped;
  if (size >= 4 && data[0] == 0x78 && data[1] == 0x9F && data[2] == 0x3E && data[3] == 0x22) {
    wrapped = messageWithWinmailDat(data, size);
    data = reinterpret_cast<const std::uint8_t*>(wrapped.data());
    size = wrapped.size();
  }
  mime::ImportOptions options;
  options.importTime = pst::FileTime{133000000000000000ull};
  options.inMemoryAttachmentLimit = 4096;  // exercise the temporary-file path too
  pst::MessageModel model;
  try {
    model = mime::importMessage(std::span<const std::uint8_t>(data, size), options, "fuzz");
  } catch (const mime::ImportError&) {
    return 0;
  }
  const std::string illFormed = mime::checks::illFormedText(model);
  if (!illFormed.empty()) finding("ill-formed UTF-8 in the model", illFormed);
  try {
    sink.add(std::move(model));
  } catch (const pst::Error& e) {
    finding("the store refused an imported message", e.what());
  }
  return 0;
}
