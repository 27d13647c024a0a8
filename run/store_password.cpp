#include "run/store_password.h"

namespace mailfold::run {

std::string StorePasswordPrompt(const std::string& storePath) {
  // The password box does not wrap its text: the path gets a line of its own.
  return "The store file\r\n" + storePath +
         "\r\nis protected by a password. Enter its password to add the messages to it:";
}

}  // namespace mailfold::run
