// mailfold-pst: look into a store file and check it.
//
//   mailfold-pst ls [--json] STORE          the folder tree with item and unread counts
//   mailfold-pst check STORE                strict structural check; exit 1 on any violation,
//                                           3 when another program is writing the store
//   mailfold-pst show STORE FOLDER-PATH     the messages of one folder
//   mailfold-pst dump STORE --nid N         the raw properties (or table) of one node
//
// Options may stand anywhere on the line, also before the command word.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"
#include "pst/messaging/property_tags.h"
#include "pst/messaging/store.h"
#include "pst/messaging/store_check.h"
#include "pst/ndb/node_database.h"
#include "tools/command_line/argument_scanner.h"

using namespace mailfold::pst;

namespace {

constexpr const char* kUsage =
    "usage: mailfold-pst ls [--json] STORE\n"
    "       mailfold-pst check STORE\n"
    "       mailfold-pst show STORE FOLDER-PATH\n"
    "       mailfold-pst dump STORE --nid N\n"
    "       mailfold-pst --help | --version\n"
    "\n"
    "  ls     the folder tree below the top of the store: path, items, unread items\n"
    "  check  checks every structure of the store; prints one line per violation, then\n"
    "         notes (\"note: ...\": what the format allows or readers accept); exits with 1\n"
    "         when there is a violation, 0 when there is none (notes or not), 3 without a\n"
    "         verdict when another program is writing the store\n"
    "  show   the messages of a folder (path like \\Inbox\\Projects): subject, sender,\n"
    "         dates, size, flags, attachment count\n"
    "  dump   the raw properties of one node (a property or table context); N is decimal\n"
    "         or 0x-prefixed hexadecimal\n"
    "\n"
    "Options may come anywhere on the line, also before the command; -- ends them (for a\n"
    "STORE whose name starts with -). --nid N may also be written --nid=N.\n";

std::string jsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string hex(std::uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
  return buf;
}

std::string formatTime(FileTime t) {
  if (t.ticks < 116444736000000000ULL) return "-";
  const std::time_t secs = static_cast<std::time_t>((t.ticks - 116444736000000000ULL) / 10000000ULL);
  std::tm tm{};
  gmtime_r(&secs, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

struct ValueFormatter {
  std::uint16_t type;
  std::string operator()(bool b) const { return b ? "true" : "false"; }
  std::string operator()(std::int16_t i) const { return std::to_string(i); }
  std::string operator()(std::int32_t i) const { return std::to_string(i) + " (" + hex(static_cast<std::uint32_t>(i)) + ")"; }
  std::string operator()(std::int64_t i) const { return std::to_string(i); }
  std::string operator()(double d) const { return std::to_string(d); }
  std::string operator()(FileTime t) const { return formatTime(t) + " UTC"; }
  std::string operator()(const std::string& s) const { return jsonString(s.size() > 200 ? s.substr(0, 200) + "..." : s); }
  std::string operator()(const Bytes& b) const {
    std::string out = std::to_string(b.size()) + " bytes:";
    for (std::size_t i = 0; i < b.size() && i < 48; ++i) {
      char buf[4];
      std::snprintf(buf, sizeof buf, " %02x", b[i]);
      out += buf;
    }
    return out + (b.size() > 48 ? " ..." : "");
  }
  std::string operator()(const Guid& g) const { return (*this)(Bytes(g.bytes.begin(), g.bytes.end())); }
  std::string operator()(const std::shared_ptr<const ByteSource>& s) const {
    return std::to_string(s ? s->size() : 0) + " bytes (stream)";
  }
  template <class T>
  std::string operator()(const std::vector<T>& list) const {
    std::string out = "[" + std::to_string(list.size()) + "]";
    for (std::size_t i = 0; i < list.size() && i < 8; ++i) out += " " + (*this)(list[i]);
    return out;
  }
};

std::string formatValue(std::uint16_t type, const PropertyValue& v) { return std::visit(ValueFormatter{type}, v); }

void printFolderLine(const Folder& f, const std::string& path, bool json, bool& first) {
  if (json) {
    std::cout << (first ? "" : ",\n") << "  {\"path\": " << jsonString(path) << ", \"items\": " << f.contentCount()
              << ", \"unread\": " << f.unreadCount() << "}";
    first = false;
  } else {
    std::cout << path << "\t" << f.contentCount() << "\t" << f.unreadCount() << "\n";
  }
}

// A damaged hierarchy table can list a folder above it again: each folder is listed once.
void listFolders(Folder f, const std::string& path, bool json, bool& first, std::set<ndb::Nid>& seen) {
  for (Folder child : f.children()) {
    const std::string p = path + "\\" + child.name();
    if (!seen.insert(child.nid()).second) {
      std::cerr << "mailfold-pst: " << p << " is folder " << hex(child.nid())
                << " again (the store's folder tree is damaged); not listed twice\n";
      continue;
    }
    printFolderLine(child, p, json, first);
    listFolders(child, p, json, first, seen);
  }
}

int cmdLs(const std::string& path, bool json) {
  auto store = Store::open(path, false);
  bool first = true;
  if (json) std::cout << "[\n";
  // The top of the store itself first ("\"): messages that were directly in a converted
  // source folder land there.
  printFolderLine(store->ipmRoot(), "\\", json, first);
  std::set<ndb::Nid> seen{store->ipmRoot().nid()};
  listFolders(store->ipmRoot(), "", json, first, seen);
  if (json) std::cout << "\n]\n";
  return 0;
}

int cmdCheck(const std::string& path) {
  const StoreCheckReport report = examineStore(path);
  if (report.beingWritten) {
    std::cerr << path << ": another program is writing this store (it holds the writer's lock); check it once that has "
                         "finished\n";
    return 3;
  }
  for (const auto& v : report.violations) std::cout << v << "\n";
  for (const auto& n : report.notes) std::cout << "note: " << n << "\n";
  if (report.violations.empty())
    std::cerr << path << ": no violations" << (report.notes.empty() ? "" : " (" + std::to_string(report.notes.size()) + " notes)")
              << "\n";
  return report.violations.empty() ? 0 : 1;
}

int cmdShow(const std::string& path, const std::string& folderPath) {
  auto store = Store::open(path, false);
  Folder f = store->folderByPath(folderPath);
  std::cout << "folder " << jsonString(f.name()) << ": " << f.contentCount() << " items, " << f.unreadCount() << " unread\n";
  for (ndb::Nid nid : f.messages()) {
    const MessageModel m = store->readMessage(nid);
    auto text = [&](PropTag tag) {
      const std::string* s = m.props.getAs<std::string>(tag);
      return s ? *s : std::string();
    };
    auto time = [&](PropTag tag) {
      const FileTime* t = m.props.getAs<FileTime>(tag);
      return t ? formatTime(*t) : std::string("-");
    };
    const std::int32_t* size = m.props.getAs<std::int32_t>(kPrMessageSize);
    const std::int32_t* flags = m.props.getAs<std::int32_t>(kPrMessageFlags);
    std::string sender = text(kPrSenderName);
    if (!text(kPrSenderEmailAddress).empty()) sender += " <" + text(kPrSenderEmailAddress) + ">";
    std::cout << hex(nid) << "\t" << jsonString(text(kPrSubject)) << "\n"
              << "\tfrom " << sender << "\n"
              << "\tsent " << time(kPrClientSubmitTime) << "  received " << time(kPrMessageDeliveryTime) << "\n"
              << "\tsize " << (size ? *size : 0) << "  flags " << hex(flags ? static_cast<std::uint32_t>(*flags) : 0)
              << ((flags && (*flags & kMsgFlagRead)) ? " read" : " unread")
              << ((flags && (*flags & kMsgFlagUnsent)) ? " unsent" : "") << "  attachments " << m.attachments.size() << "\n";
  }
  return 0;
}

int cmdDump(const std::string& path, ndb::Nid nid) {
  auto db = ndb::NodeDatabase::open(path, ndb::OpenMode::kReadOnly);
  auto node = db->openNode(nid);
  std::cout << "node " << hex(nid) << " parent " << hex(db->parentOf(nid)) << ", " << node->data().size() << " bytes, "
            << node->subnodeIds().size() << " sub-nodes\n";
  try {
    ltp::PropertyContext pc = ltp::PropertyContext::open(*node);
    for (PropTag tag : pc.tags()) {
      std::cout << ltp::tagName(tag) << "\t";
      const std::uint64_t size = pc.storedSize(tag);
      if (size > 1024 * 1024) {
        std::cout << size << " bytes (not shown)\n";
        continue;
      }
      auto v = pc.get(tag);
      std::cout << (v ? formatValue(tagType(tag), *v) : "(unreadable)") << "\n";
    }
    return 0;
  } catch (const Error&) {
  }
  try {
    ltp::TableContext tc = ltp::TableContext::open(*node);
    std::cout << "table: " << tc.layout().columns.size() << " columns, " << tc.rowCount() << " rows\n";
    for (const auto& c : tc.layout().columns)
      std::cout << "  column " << ltp::tagName(c.tag) << " offset " << c.offset << " size " << int{c.size} << " bit "
                << int{c.bit} << "\n";
    for (std::uint32_t i = 0; i < tc.rowCount(); ++i) {
      std::cout << "row " << i << "\n";
      for (const auto& [tag, value] : tc.readRow(i)) std::cout << "  " << ltp::tagName(tag) << "\t" << formatValue(tagType(tag), value) << "\n";
    }
    return 0;
  } catch (const Error& e) {
    std::cout << "neither a property context nor a table context: " << e.what() << "\n";
    return 1;
  }
}

// One command line, checked before any store is opened.
struct Command {
  std::string name;        // ls, check, show or dump
  std::string store;
  std::string folderPath;  // show
  bool json = false;       // ls
  ndb::Nid nid = 0;        // dump
};

struct ParsedCommand {
  Command command;
  bool help = false;
  bool version = false;
  std::string error;  // empty when the command line is usable
};

// The node id of --nid: decimal or 0x-prefixed hexadecimal, at most 32 bits.
std::optional<ndb::Nid> parseNid(const std::string& text) {
  try {
    std::size_t used = 0;
    const unsigned long long n = std::stoull(text, &used, 0);
    if (used == text.size() && n <= 0xFFFFFFFFULL) return static_cast<ndb::Nid>(n);
  } catch (const std::logic_error&) {  // not a number, or one past 64 bits
  }
  return std::nullopt;
}

ParsedCommand parseCommand(const std::vector<std::string>& arguments) {
  static constexpr mailfold::command_line::OptionSpec kSpecs[] = {
      {0, "json", ""},
      {0, "nid", "a node id"},
      {'h', "help", ""},
      {0, "version", ""},
  };
  ParsedCommand parsed;
  const auto fail = [&parsed](const std::string& text) {
    parsed.error = text;
    return parsed;
  };
  const auto scanned = mailfold::command_line::ScanArguments(arguments, kSpecs);
  parsed.help = scanned.Has("help");
  parsed.version = scanned.Has("version");
  if (parsed.help || parsed.version) return parsed;
  if (!scanned.error.empty()) return fail(scanned.error);

  const auto& operands = scanned.operands;
  if (operands.empty()) return fail("no command given (ls, check, show or dump)");
  Command& command = parsed.command;
  command.name = operands.front();
  std::vector<std::string> wanted{"STORE"};  // the operands after the command word
  if (command.name == "show")
    wanted.push_back("FOLDER-PATH");
  else if (command.name != "ls" && command.name != "check" && command.name != "dump")
    return fail("unknown command '" + command.name + "' (ls, check, show or dump)");
  const std::size_t given = operands.size() - 1;
  if (given < wanted.size()) {
    std::string missing;
    for (std::size_t i = given; i < wanted.size(); ++i) missing += " " + wanted[i];
    return fail(command.name + " needs" + missing);
  }
  if (given > wanted.size())
    return fail("extra operand '" + operands[wanted.size() + 1] + "' (" + command.name + " takes " +
                (wanted.size() == 1 ? "one STORE" : "STORE and FOLDER-PATH") + ")");
  command.store = operands[1];
  if (command.name == "show") command.folderPath = operands[2];

  command.json = scanned.Has("json");
  if (command.json && command.name != "ls") return fail("--json is for ls only");
  const auto* nid = scanned.Find("nid");
  if (nid && command.name != "dump") return fail("--nid is for dump only");
  if (command.name == "dump") {
    if (!nid) return fail("dump needs --nid N");
    const auto parsedNid = parseNid(nid->value);
    if (!parsedNid) return fail("not a node id: " + nid->value);
    command.nid = *parsedNid;
  }
  return parsed;
}

int usageError(const std::string& text) {
  std::cerr << "mailfold-pst: " << text << "\nTry 'mailfold-pst --help' for more information.\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (arguments.empty()) {
    std::cerr << kUsage;
    return 2;
  }
  const ParsedCommand parsed = parseCommand(arguments);
  if (parsed.help) {
    std::cout << kUsage;
    return 0;
  }
  if (parsed.version) {
    std::cout << "mailfold-pst " << MAILFOLD_VERSION << "\n";
    return 0;
  }
  if (!parsed.error.empty()) return usageError(parsed.error);
  const Command& command = parsed.command;
  try {
    if (command.name == "ls") return cmdLs(command.store, command.json);
    if (command.name == "check") return cmdCheck(command.store);
    if (command.name == "show") return cmdShow(command.store, command.folderPath);
    return cmdDump(command.store, command.nid);
  } catch (const std::exception& e) {
    std::cerr << "mailfold-pst: " << e.what() << "\n";
    return 2;
  }
}
