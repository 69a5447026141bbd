// The program body on Linux: Qt's application object and event loop, the
// hidden main window, and the platform's half of the main-thread rendezvous.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>

#include "app/exception_report.h"
#include "app/logical_dpi_qt.h"
#include "app/main_form_qt.h"
#include "app/modules.h"
#include "net/net_watch_platform.h"
#include "net/udp_platform.h"
#include "relay/mailslot_platform.h"
#include "support/dimports.h"
#include "support/main_thread.h"

namespace ostrivane {
namespace {

bool HasDisplay() {
  const QString platform = QGuiApplication::platformName();
  return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

class QtApplication final : public IApplication {
 public:
  explicit QtApplication(std::string title) : title_(std::move(title)) {}

  void ShowException(const std::exception& e) override {
    const std::string text = ExceptionReportText(e.what());
    std::fprintf(stderr, "%s: %s\n", title_.c_str(), text.c_str());
    std::fflush(stderr);
    if (HasDisplay()) {
      QMessageBox box(QMessageBox::Critical, QString::fromStdString(title_),
                      QString::fromStdString(text), QMessageBox::Ok);
      box.exec();
    }
  }

  // Also before the event loop runs, from a start-up report's message box,
  // where QCoreApplication::quit() would do nothing: every running loop
  // ends, and the main one is not entered.
  void Terminate() override {
    terminated_ = true;
    QCoreApplication::exit(0);
  }
  [[nodiscard]] bool Terminated() const noexcept { return terminated_; }

 private:
  std::string title_;
  bool terminated_ = false;
};

// SIGINT and SIGTERM close the main window through the event loop. A write
// that waits for room in a stuck reader's queue stops waiting at once, so
// the loop gets to it.
std::array<int, 2> g_signalPipe{-1, -1};
// The main-thread rendezvous wakes the event loop through this pipe.
std::array<int, 2> g_wakePipe{-1, -1};

extern "C" void OnTerminationSignal(int /*signal*/) {
  platform::CancelMailSlotWaits();
  const char byte = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(g_signalPipe[1], &byte, 1);
}

}  // namespace
}  // namespace ostrivane

int main(int argc, char** argv) {
  using namespace ostrivane;
  // Without a display the program runs all the same, on the offscreen
  // platform; also when the display it was given cannot be reached.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (!x11 && !wayland) {
      qputenv("QT_QPA_PLATFORM", "offscreen");
    } else if (wayland && (!x11 || qgetenv("XDG_SESSION_TYPE") == "wayland")) {
      qputenv("QT_QPA_PLATFORM", "wayland;xcb;offscreen");
    } else {
      qputenv("QT_QPA_PLATFORM", "xcb;wayland;offscreen");
    }
  }
  InitializeModules();
  int result = 0;
  {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    DImports::SetLogicalDpiSource(QtLogicalDpi);
    QtApplication application(ApplicationTitle(argc > 0 ? argv[0] : "ostrivane"));

    MainThread::Attach();
    // The rendezvous' wake-up: a byte into a pipe that the event loop
    // watches. Nothing is allocated per hand-off, and a pipe's write wakes
    // its reader with the hint that the writer is about to wait, as the
    // listener is (measured against waking Qt's dispatcher directly, it came
    // out ahead, though the machine's load made the margin uncertain).
    if (::pipe2(g_wakePipe.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
      std::perror("pipe2");
      return 1;
    }
    QSocketNotifier wakeNotifier(g_wakePipe[0], QSocketNotifier::Read);
    QObject::connect(&wakeNotifier, &QSocketNotifier::activated, [] {
      std::array<char, 64> bytes{};
      [[maybe_unused]] const ssize_t ignored = ::read(g_wakePipe[0], bytes.data(), bytes.size());
      MainThread::CheckSynchronize();
    });
    MainThread::SetWakeUp([] {
      // A full pipe already holds a wake-up that has not been read.
      const char byte = 1;
      [[maybe_unused]] const ssize_t ignored = ::write(g_wakePipe[1], &byte, 1);
    });
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                     [] { MainThread::CheckSynchronize(); });

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe.data()) != 0) {
      std::perror("socketpair");
      return 1;
    }
    QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    QtMainWindow window(application, DefaultUdpPlatform(), HasDisplay());
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, [&window] {
      char byte = 0;
      [[maybe_unused]] const ssize_t ignored = ::read(g_signalPipe[0], &byte, 1);
      window.Form().btnCloseClick();
    });

    // Following the network: the event loop watches the netlink socket of
    // the network watch like any other descriptor, so its notices reach the
    // main thread without a thread of their own. A notice (re)starts a
    // one-shot timer; its end lets the window look at the addresses. The
    // watch is opened before the receiver's first activation, so that no
    // change after the first look at the addresses goes unnoticed.
    const platform::NetworkWatchPtr networkWatch = platform::OpenNetworkWatch();
    QTimer networkTimer;
    networkTimer.setSingleShot(true);
    const auto followUp = [&networkTimer](std::optional<std::chrono::milliseconds> delay) {
      if (delay) networkTimer.start(*delay);
    };
    QObject::connect(&networkTimer, &QTimer::timeout,
                     [&] { followUp(window.Form().CheckNetwork()); });
    std::unique_ptr<QSocketNotifier> networkNotifier;
    if (networkWatch) {
      networkNotifier = std::make_unique<QSocketNotifier>(
          static_cast<qintptr>(platform::Waitable(*networkWatch)), QSocketNotifier::Read);
      QObject::connect(networkNotifier.get(), &QSocketNotifier::activated, [&] {
        if (platform::TakeNetworkChanges(*networkWatch)) followUp(window.Form().NetworkChanged());
      });
    }

    window.Form().Create();
    if (!application.Terminated()) result = QApplication::exec();
    window.Form().Destroy();
    MainThread::SetWakeUp({});
    DImports::SetLogicalDpiSource(nullptr);
  }
  FinalizeModules();
  return result;
}
