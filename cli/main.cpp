#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

#include "cli/CliApp.h"
#include "cli/Command.h"

namespace {

// Standard output through write(2), keeping the first failure's reason: a full disk or
// a closed pipe ends the command with the system's words instead of a silent success.
class StandardOutput : public std::streambuf {
 public:
  StandardOutput() { setp(buffer_, buffer_ + sizeof buffer_); }
  ~StandardOutput() override { flush(); }
  int error() const { return error_; }

 protected:
  int_type overflow(int_type c) override {
    if (!flush()) return traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
  }
  int sync() override { return flush() ? 0 : -1; }

 private:
  bool flush() {
    const char* at = pbase();
    while (at < pptr()) {
      const ssize_t n = ::write(STDOUT_FILENO, at, static_cast<std::size_t>(pptr() - at));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        if (error_ == 0) error_ = errno;
        break;
      }
      at += n;
    }
    setp(buffer_, buffer_ + sizeof buffer_);  // what failed is dropped, not retried
    return error_ == 0;
  }
  char buffer_[1 << 16];
  int error_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  StandardOutput output;
  std::ostream out(&output);
  const std::vector<std::string> args(argv + 1, argv + argc);
  int status = pulsewright::kExitError;
  pulsewright::setProcessEndsAfterCommand(true);
  try {
    status = pulsewright::runCli(args, std::cin, out, std::cerr);
  } catch (const std::exception& e) {
    std::cerr << "pulsewright-cli: " << e.what() << "\n";
  }
  out.flush();
  if (output.error() != 0) {
    std::cerr << "pulsewright-cli: cannot write standard output: " << std::strerror(output.error())
              << "\n";
    if (status == pulsewright::kExitOk || status == 1) status = pulsewright::kExitError;
  }
  return status;
}
