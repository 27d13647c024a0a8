#include "sample_mail.h"

#include <array>
#include <cstdio>
#include <memory>
#include <sstream>

#include "pst/messaging/property_tags.h"
#include "support/exit_status.h"
#include "support/paths.h"

namespace mailfold::test {
using namespace mailfold::pst;

namespace {

constexpr std::array<std::uint64_t, 8> kSizes{0, 1, 100, 8176, 8177, 65536, 300000, 1000003};

std::string plainBody(int i) { return "Body of message " + std::to_string(i) + "\r\nZweite Zeile – äöü ß, 日本語."; }
std::string htmlBody(int i) {
  return "<html><body><p>HTML message " + std::to_string(i) + " – <b>Grüße</b> 日本</p></body></html>";
}
bool isHtml(int i) { return i % 3 == 0; }

struct AttachmentSpec {
  std::string name;
  std::uint64_t size;
  std::uint32_t seed;
};

std::vector<AttachmentSpec> attachmentsOf(int i) {
  std::vector<AttachmentSpec> out;
  if (i % 4 == 1) out.push_back({"Anhang " + std::to_string(i) + " – größe.bin", kSizes[(i / 4) % kSizes.size()], static_cast<std::uint32_t>(i)});
  if (i % 10 == 2) out.push_back({"notes-" + std::to_string(i) + ".txt", 10 + static_cast<std::uint64_t>(i), static_cast<std::uint32_t>(i + 7)});
  if (i % 250 == 5) out.push_back({"big-" + std::to_string(i) + ".dat", 3u * 1024 * 1024 + 17, static_cast<std::uint32_t>(i + 3)});
  return out;
}
bool hasEmbedded(int i) { return i % 100 == 3; }

Attachment fileAttachment(const AttachmentSpec& spec) {
  Attachment a;
  a.props.set(kPrAttachLongFilename, spec.name);
  a.props.set(kPrAttachFilename, spec.name);
  a.props.set(kPrAttachMimeTag, std::string("application/octet-stream"));
  a.props.set(kPrAttachDataBin, std::shared_ptr<const ByteSource>(std::make_shared<PatternSource>(spec.size, spec.seed)));
  return a;
}

MessageModel innerMessage(int i, int depth) {
  MessageModel m;
  m.props.set(kPrSubject, "Inner " + std::to_string(depth) + " of " + std::to_string(i));
  m.props.set(kPrBody, "Inner body " + std::to_string(depth));
  if (depth == 2) {
    m.attachments.push_back(fileAttachment({"deep.bin", 5000, static_cast<std::uint32_t>(i * 10 + depth)}));
  } else {
    Attachment a;
    a.props.set(kPrAttachLongFilename, "Inner " + std::to_string(depth + 1) + " of " + std::to_string(i));
    a.embedded = std::make_shared<MessageModel>(innerMessage(i, depth + 1));
    m.attachments.push_back(std::move(a));
  }
  return m;
}

std::string jsonString(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      default: out += c;
    }
  }
  return out + "\"";
}


std::string attachmentsJson(int i) {
  std::string out = "[";
  bool first = true;
  for (const auto& spec : attachmentsOf(i)) {
    out += std::string(first ? "" : ",") + "{\"name\":" + jsonString(spec.name) + ",\"size\":" + std::to_string(spec.size) +
           ",\"seed\":" + std::to_string(spec.seed) + "}";
    first = false;
  }
  if (hasEmbedded(i)) {
    out += std::string(first ? "" : ",") + "{\"name\":" + jsonString("Inner 1 of " + std::to_string(i)) +
           ",\"embedded\":{\"subject\":" + jsonString("Inner 1 of " + std::to_string(i)) +
           ",\"body\":\"Inner body 1\",\"attachments\":[{\"name\":" + jsonString("Inner 2 of " + std::to_string(i)) +
           ",\"embedded\":{\"subject\":" + jsonString("Inner 2 of " + std::to_string(i)) +
           ",\"body\":\"Inner body 2\",\"attachments\":[{\"name\":\"deep.bin\",\"size\":5000,\"seed\":" +
           std::to_string(i * 10 + 2) + "}]}}]}}";
  }
  return out + "]";
}

}  // namespace

std::uint8_t patternByte(std::uint64_t k, std::uint32_t seed) { return static_cast<std::uint8_t>((k * 131 + seed) % 251); }

std::size_t PatternSource::read(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (offset >= size_) return 0;
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), size_ - offset));
  for (std::size_t k = 0; k < n; ++k) out[k] = patternByte(offset + k, seed_);
  return n;
}

std::string sampleSubject(int i) { return "Message " + std::to_string(i) + " – Grüße, 日本 ✓"; }
bool sampleIsRead(int i) { return i % 7 != 0; }

MessageModel sampleMessage(int i) {
  MessageModel m;
  m.props.set(kPrSubject, sampleSubject(i));
  m.props.set(kPrConversationTopic, sampleSubject(i));
  m.props.set(kPrBody, plainBody(i));
  if (isHtml(i)) {
    const std::string html = htmlBody(i);
    m.props.set(kPrHtml, Bytes(html.begin(), html.end()));
    m.props.set(kPrInternetCodepage, std::int32_t{65001});
    m.props.set(kPrNativeBody, kNativeBodyHtml);
  } else {
    m.props.set(kPrNativeBody, kNativeBodyPlain);
  }
  m.props.set(kPrSenderName, std::string("Jörg Sender"));
  m.props.set(kPrSenderEmailAddress, std::string("joerg@example.org"));
  m.props.set(kPrSenderAddrType, std::string("SMTP"));
  m.props.set(kPrSentRepresentingName, std::string("Jörg Sender"));
  m.props.set(kPrSentRepresentingEmailAddress, std::string("joerg@example.org"));
  m.props.set(kPrSentRepresentingAddrType, std::string("SMTP"));
  const FileTime when{133000000000000000ULL + static_cast<std::uint64_t>(i) * 600000000ULL};
  m.props.set(kPrClientSubmitTime, when);
  m.props.set(kPrMessageDeliveryTime, when);
  m.props.set(kPrCreationTime, when);
  m.props.set(kPrLastModificationTime, when);
  m.props.set(kPrImportance, kImportanceNormal);
  auto addRecipient = [&](std::int32_t type, const std::string& name, const std::string& mail) {
    Recipient r;
    r.props.set(kPrRecipientType, type);
    r.props.set(kPrDisplayName, name);
    r.props.set(kPrEmailAddress, mail);
    r.props.set(kPrAddrType, std::string("SMTP"));
    r.props.set(kPrSmtpAddress, mail);
    r.props.set(kPrObjectType, kObjectTypeMailUser);
    r.props.set(kPrDisplayType, std::int32_t{0});
    m.recipients.push_back(std::move(r));
  };
  addRecipient(kRecipientTo, "Anna Empfänger", "anna@example.com");
  if (i % 2 == 0) addRecipient(kRecipientTo, "Bob", "bob@example.com");
  if (i % 2 == 1) addRecipient(kRecipientCc, "Çelik Copy", "celik@example.net");
  if (i % 5 == 0) addRecipient(kRecipientBcc, "Hidden Bcc", "bcc@example.net");
  m.props.set(kPrDisplayTo, std::string(i % 2 == 0 ? "Anna Empfänger; Bob" : "Anna Empfänger"));
  if (i % 2 == 1) m.props.set(kPrDisplayCc, std::string("Çelik Copy"));
  for (const auto& spec : attachmentsOf(i)) m.attachments.push_back(fileAttachment(spec));
  if (hasEmbedded(i)) {
    Attachment a;
    a.props.set(kPrAttachLongFilename, "Inner 1 of " + std::to_string(i));
    a.embedded = std::make_shared<MessageModel>(innerMessage(i, 1));
    m.attachments.push_back(std::move(a));
  }
  if (i % 2 == 0) {
    m.props.setNamed({kPsInternetHeaders, std::string("x-mailfold-test")}, kPtUnicode, "value " + std::to_string(i));
    m.props.setNamed({kPsetCommon, std::uint32_t{0x8580}}, kPtInt32, std::int32_t{i});
  }
  return m;
}

std::string manifestJson(const std::vector<ManifestFolder>& folders) {
  std::string out = "{\"folders\":[";
  bool firstFolder = true;
  for (const auto& f : folders) {
    out += std::string(firstFolder ? "" : ",") + "{\"path\":" + jsonString(f.path) + ",\"messages\":[";
    firstFolder = false;
    bool first = true;
    for (int i : f.messages) {
      out += std::string(first ? "" : ",") + "{\"subject\":" + jsonString(sampleSubject(i)) +
             ",\"body\":" + jsonString(plainBody(i)) + ",\"html\":" + (isHtml(i) ? jsonString(htmlBody(i)) : "null") +
             ",\"read\":" + (sampleIsRead(i) ? "true" : "false") + ",\"attachments\":" + attachmentsJson(i) + "}";
      first = false;
    }
    out += "]}";
  }
  return out + "]}";
}

int compareWithReader(const std::string& reader, const std::string& store, const std::string& manifestPath,
                      std::string& output) {
#ifdef _WIN32
  // 77: "reader missing". The readers are Linux programs; scripts/windows/test.sh reads a store
  // made by the Windows build with them instead.
  (void)reader, (void)store, (void)manifestPath;
  output = "the Linux store readers cannot be run from a Windows program";
  return 77;
#endif
  const std::string cmd = "/usr/bin/python3 " + (sourceDir() / "tests/pst/messaging/oracle_compare.py").string() + " " +
                          reader + " '" + store + "' '" + manifestPath + "' 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) output.append(buf, n);
  const int status = pclose(p);
  return exitCodeOf(status);
}

}  // namespace mailfold::test
