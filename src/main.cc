// Zorvan_Server: the gateway's window and event loop.
#include <QApplication>

#include "shell/dialogs.h"
#include "shell/main_form.h"
#include "shell/program_name.h"
#include "shell/window_look.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  gateway::ApplyWindowLook(application);
  gateway::QtDialogs dialogs;
  dialogs.SetApplicationTitle(QString());
  gateway::TMainForm form(dialogs, gateway::MachineEnvironment(gateway::ProgramName()));
  form.show();
  return application.exec();
}
