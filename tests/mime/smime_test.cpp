// S/MIME messages made with openssl, imported into a store, read back from it, and checked
// with openssl: a clear-signed message still verifies, an opaque-signed one too, and an
// encrypted one still decrypts with the recipient's key.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "mime/importer.h"
#include "pst/messaging/property_tags.h"
#include "pst/messaging/store.h"
#include "support/paths.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using namespace mailfold;

namespace {

int run(const std::string& command, std::string& output) {
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  std::array<char, 4096> buf{};
  while (std::size_t n = fread(buf.data(), 1, buf.size(), pipe)) output.append(buf.data(), n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

std::string lfOnly(std::string s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') continue;
    out += s[i];
  }
  return out;
}

// A signed part GMime would not write back as it stands: an oddly folded header, blanks at line
// ends, a parameter without quotes, an encoded word, a nested multipart.
const char* const kSignedContent =
    "Content-Type: multipart/mixed;\r\n"
    "        boundary=inner-boundary-42\r\n"
    "X-Odd-Header:    spaced   out   \r\n"
    "X-Tight:value\r\n"
    "\r\n"
    "A preamble no reader shows.\r\n"
    "--inner-boundary-42\r\n"
    "Content-Type:text/plain;charset=UTF-8\r\n"
    "Content-Transfer-Encoding: quoted-printable\r\n"
    "\r\n"
    "Gr=C3=BC=C3=9Fe aus Z=C3=BCrich   \r\n"
    "Trailing blanks stay.  \r\n"
    "--inner-boundary-42\r\n"
    "Content-Type: application/octet-stream; name==?UTF-8?B?w6TDtsO8LmJpbg==?=\r\n"
    "Content-Disposition: attachment\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "\r\n"
    "AAECAwQFBgcICQ==\r\n"
    "--inner-boundary-42--\r\n"
    "An epilogue.\r\n";

class Smime : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string out;
    if (run("openssl version", out) != 0) GTEST_SKIP() << "openssl not available: " << out;
    ASSERT_EQ(run("cd '" + dir.path().string() +
                      "' && openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Signer/emailAddress=signer@example.org'"
                      " -keyout key.pem -out cert.pem",
                  out),
              0)
        << out;
    writeFile(dir.path() / "content.eml", kSignedContent);
  }

  // openssl smime with `args` in the test folder; fails the test when it fails.
  std::string openssl(const std::string& args) {
    std::string out;
    EXPECT_EQ(run("cd '" + dir.path().string() + "' && openssl " + args, out), 0) << args << "\n" << out;
    return out;
  }

  // Imports `file` into a new store, closes it, opens it again and returns the message read back.
  pst::MessageModel throughStore(const fs::path& file, const mime::ImportOptions& options = {}) {
    const fs::path storePath = dir.path() / (file.stem().string() + ".pst");
    {
      auto store = pst::Store::create(storePath.string(), "S/MIME");
      store->ipmRoot().addChild("In").addMessage(mime::importMessageFile(file.string(), options));
      store->close();
    }
    reopened = pst::Store::open(storePath.string(), false);
    const std::vector<pst::ndb::Nid> ids = reopened->ipmRoot().child("In")->messages();
    EXPECT_EQ(ids.size(), 1u);
    return reopened->readMessage(ids.at(0));
  }

  // The single smime.p7m attachment's bytes, written to `name` in the test folder.
  static void saveSmimeAttachment(const pst::MessageModel& m, const std::string& name, const fs::path& folder) {
    ASSERT_EQ(m.attachments.size(), 1u);
    const pst::Attachment& a = m.attachments[0];
    const std::string* fileName = a.props.getAs<std::string>(pst::kPrAttachLongFilename);
    ASSERT_TRUE(fileName);
    EXPECT_EQ(*fileName, "smime.p7m");
    const auto* data = a.props.getAs<std::shared_ptr<const pst::ByteSource>>(pst::kPrAttachDataBin);
    ASSERT_TRUE(data && *data);
    std::string bytes((*data)->size(), '\0');
    ASSERT_EQ((*data)->read(0, {reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()}), bytes.size());
    writeFile(folder / name, bytes);
  }
  void saveSmimeAttachment(const pst::MessageModel& m, const std::string& name) {
    saveSmimeAttachment(m, name, dir.path());
  }

  static std::string messageClass(const pst::MessageModel& m) {
    const std::string* c = m.props.getAs<std::string>(pst::kPrMessageClass);
    return c ? *c : std::string();
  }

  test::TempDir dir;
  std::unique_ptr<pst::Store> reopened;
};

}  // namespace

TEST_F(Smime, ClearSignedMessageStillVerifiesAfterTheStore) {
  openssl("smime -sign -in content.eml -signer cert.pem -inkey key.pem -from signer@example.org "
          "-to reader@example.org -subject 'Signed' -out signed.eml");
  // The same message as a Unix tool stores it: LF line ends throughout.
  writeFile(dir.path() / "signed-lf.eml", lfOnly(readFile(dir.path() / "signed.eml")));
  for (const std::string name : {"signed.eml", "signed-lf.eml"}) {
    SCOPED_TRACE(name);
    const pst::MessageModel m = throughStore(dir.path() / name);
    EXPECT_EQ(messageClass(m), "IPM.Note.SMIME.MultipartSigned");
    saveSmimeAttachment(m, name + ".p7m");
    const std::string out = openssl("smime -verify -noverify -in '" + name + ".p7m' -out verified.eml");
    EXPECT_NE(out.find("Verification successful"), std::string::npos) << out;
    EXPECT_EQ(lfOnly(readFile(dir.path() / "verified.eml")), lfOnly(kSignedContent));
  }
}

TEST_F(Smime, ClearSignedMessageWithFoldedHeaderAndBodyOnDiskStillVerifies) {
  openssl("smime -sign -in content.eml -signer cert.pem -inkey key.pem -subject 'Folded' -out signed.eml");
  std::string file = readFile(dir.path() / "signed.eml");
  const std::size_t boundary = file.find("; boundary=");
  ASSERT_NE(boundary, std::string::npos);
  file.replace(boundary, 2, ";\n\t");
  writeFile(dir.path() / "folded.eml", "X-Before: 1\nContent-Description: signed\n  text\n" + file);
  mime::ImportOptions options;
  options.inMemoryAttachmentLimit = 64;  // the entity goes through a temporary file
  const pst::MessageModel m = throughStore(dir.path() / "folded.eml", options);
  saveSmimeAttachment(m, "folded.p7m");
  const std::string entity = readFile(dir.path() / "folded.p7m");
  EXPECT_TRUE(entity.starts_with("Content-Description: signed\r\n  text\r\n")) << entity.substr(0, 200);
  EXPECT_NE(entity.find("\";\r\n\tboundary="), std::string::npos) << entity.substr(0, 300);
  EXPECT_EQ(entity.find("X-Before"), std::string::npos);
  const std::string out = openssl("smime -verify -noverify -in folded.p7m -out verified.eml");
  EXPECT_NE(out.find("Verification successful"), std::string::npos) << out;
}

TEST_F(Smime, ClearSignedMessageImportedFromMemoryKeepsTheFileBytes) {
  openssl("smime -sign -in content.eml -signer cert.pem -inkey key.pem -subject 'Signed' -out signed.eml");
  // openssl mixes LF (its own lines) and CRLF (the content); a CRLF file is kept as it stands.
  std::string file;
  for (char c : lfOnly(readFile(dir.path() / "signed.eml"))) file += c == '\n' ? std::string("\r\n") : std::string(1, c);
  const pst::MessageModel m = mime::importMessage(std::string_view(file));
  ASSERT_EQ(m.attachments.size(), 1u);
  const auto* data = m.attachments[0].props.getAs<std::shared_ptr<const pst::ByteSource>>(pst::kPrAttachDataBin);
  ASSERT_TRUE(data && *data);
  std::string bytes((*data)->size(), '\0');
  (*data)->read(0, {reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()});
  // The body of the file follows the Content-* fields unchanged.
  const std::size_t bodyAt = file.find("\r\n\r\n");
  ASSERT_NE(bodyAt, std::string::npos);
  EXPECT_TRUE(bytes.ends_with(file.substr(bodyAt + 4)));
  EXPECT_TRUE(bytes.starts_with("Content-Type: multipart/signed;")) << bytes.substr(0, 200);
  EXPECT_EQ(bytes.find("Subject:"), std::string::npos);
}

TEST_F(Smime, OpaqueSignedMessageStillVerifiesAfterTheStore) {
  openssl("smime -sign -nodetach -in content.eml -signer cert.pem -inkey key.pem -subject 'Opaque' -out opaque.eml");
  const pst::MessageModel m = throughStore(dir.path() / "opaque.eml");
  EXPECT_EQ(messageClass(m), "IPM.Note.SMIME");
  saveSmimeAttachment(m, "opaque.p7m");
  const std::string out = openssl("smime -verify -noverify -inform DER -in opaque.p7m -out verified.eml");
  EXPECT_NE(out.find("Verification successful"), std::string::npos) << out;
  EXPECT_EQ(lfOnly(readFile(dir.path() / "verified.eml")), lfOnly(kSignedContent));
}

TEST_F(Smime, EncryptedMessageStillDecryptsAfterTheStore) {
  openssl("smime -encrypt -aes256 -in content.eml -subject 'Secret' -out encrypted.eml cert.pem");
  const pst::MessageModel m = throughStore(dir.path() / "encrypted.eml");
  EXPECT_EQ(messageClass(m), "IPM.Note.SMIME");
  saveSmimeAttachment(m, "encrypted.p7m");
  openssl("smime -decrypt -inform DER -in encrypted.p7m -recip cert.pem -inkey key.pem -out decrypted.eml");
  EXPECT_EQ(lfOnly(readFile(dir.path() / "decrypted.eml")), lfOnly(kSignedContent));
}

TEST_F(Smime, ThunderbirdSignedSampleStillVerifiesAfterTheStore) {
  MAILFOLD_REQUIRE_SHARED();
  const fs::path sample = test::sharedDir() / "samples" / "eml" / "mimekit" / "smime" / "thunderbird-signed.eml";
  ASSERT_TRUE(fs::exists(sample)) << sample;
  const pst::MessageModel m = throughStore(sample);
  EXPECT_EQ(messageClass(m), "IPM.Note.SMIME.MultipartSigned");
  saveSmimeAttachment(m, "thunderbird.p7m");
  const std::string out = openssl("smime -verify -noverify -in thunderbird.p7m -out verified.eml");
  EXPECT_NE(out.find("Verification successful"), std::string::npos) << out;
}

// A signed message forwarded as an attachment: the embedded item is S/MIME too, and its entity
// (written from the parsed message, the file offsets being those of the outer message) verifies.
TEST_F(Smime, ForwardedSignedMessageStillVerifiesAfterTheStore) {
  openssl("smime -sign -in content.eml -signer cert.pem -inkey key.pem -subject 'Inner' -out signed.eml");
  const std::string inner = readFile(dir.path() / "signed.eml");
  writeFile(dir.path() / "forward.eml",
            "From: a@example.org\r\nSubject: Fwd\r\nMIME-Version: 1.0\r\n"
            "Content-Type: multipart/mixed; boundary=outer\r\n\r\n"
            "--outer\r\nContent-Type: text/plain\r\n\r\nSee attached.\r\n"
            "--outer\r\nContent-Type: message/rfc822\r\n\r\n" +
                inner + "\r\n--outer--\r\n");
  writeFile(dir.path() / "forward-lf.eml", lfOnly(readFile(dir.path() / "forward.eml")));
  for (const std::string name : {"forward.eml", "forward-lf.eml"}) {
    SCOPED_TRACE(name);
    const pst::MessageModel m = throughStore(dir.path() / name);
    ASSERT_EQ(m.attachments.size(), 1u);
    ASSERT_TRUE(m.attachments[0].embedded);
    const pst::MessageModel& embedded = *m.attachments[0].embedded;
    EXPECT_EQ(messageClass(embedded), "IPM.Note.SMIME.MultipartSigned");
    saveSmimeAttachment(embedded, "inner.p7m");
    const std::string out = openssl("smime -verify -noverify -in inner.p7m -out verified.eml");
    EXPECT_NE(out.find("Verification successful"), std::string::npos) << out;
    EXPECT_EQ(lfOnly(readFile(dir.path() / "verified.eml")), lfOnly(kSignedContent));
  }
}
