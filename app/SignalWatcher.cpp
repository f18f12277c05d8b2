#include "app/SignalWatcher.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>

namespace pulsewright {

namespace {

int pipeEnds[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

extern "C" void onSignal(int number) {
  const int saved = errno;
  const char byte = static_cast<char>(number);
  [[maybe_unused]] const ssize_t n = ::write(pipeEnds[1], &byte, 1);
  errno = saved;
}

}  // namespace

SignalWatcher::SignalWatcher(QObject* parent) : QObject(parent) {
  if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier_ = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &SignalWatcher::readPipe);
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int number : kSignals) ::sigaction(number, &action, nullptr);
}

SignalWatcher::~SignalWatcher() {
  if (notifier_ == nullptr) return;
  for (int number : kSignals) std::signal(number, SIG_DFL);
  delete notifier_;
  ::close(pipeEnds[0]);
  ::close(pipeEnds[1]);
  pipeEnds[0] = pipeEnds[1] = -1;
}

void SignalWatcher::readPipe() {
  char byte = 0;
  while (::read(pipeEnds[0], &byte, 1) == 1) emit received(static_cast<unsigned char>(byte));
}

}  // namespace pulsewright
