#include "platform/win32/application.h"

#include <windows.h>

#include "app/application_main.h"

// The command line and the show state are not used: the strip always starts the same way.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  platform::win32::Application application;
  return lsv::app::RunApplication(application);
}
