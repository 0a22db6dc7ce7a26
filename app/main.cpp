// tavrin: program start.
#include "Main.h"

#include <QApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "CodePage.h"
#include "QtDesktopServices.h"

namespace {

bool HasDisplay() {
  auto set = [](const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
  };
  return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY");
}

}  // namespace

int main(int argc, char** argv) {
  if (!HasDisplay()) {
    std::fprintf(stderr,
                 "tavrin: no display found (DISPLAY and WAYLAND_DISPLAY are unset); start it on a "
                 "desktop, or headless with: xvfb-run tavrin\n");
    return 1;
  }
  // A full disk or a file-size limit must become a write error, not end the program.
  std::signal(SIGXFSZ, SIG_IGN);

  // Every argument is a file to list: Qt would take some names ("-style", "-reverse") for its
  // own options, so it sees none of them.
  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  QApplication app(qtArgc, qtArgv);
  tavrin::SetUpApplication();
  tavrin::LoadQtJapanese(app);
  tavrin::InitCodePageFromLocale();

  tavrin::QtDesktopServices services;
  tavrin::TFMain window(services);
  // The file manager's "open with" passes files here; they are listed as if dropped.
  for (int i = 1; i < argc; ++i) window.AddResultList(argv[i]);
  window.show();
  return app.exec();
}
