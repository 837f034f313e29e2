// vrksearch: initialises the application object, shows errors and questions
// in message boxes, and runs the start-up sequence on the program's own directory.
#include "Application.h"
#include "Startup.h"

int main(int argc, char** argv) {
  vrk::TApplication app(argc, argv);
  vrk::TApplication::installMessageBoxSink();
  vrk::TApplication::installDialogs();
  return vrk::runProgram(QCoreApplication::applicationDirPath());
}
