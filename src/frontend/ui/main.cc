// corvella: the desktop front end.
#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QLabel placeholder("Corvella: the main window is not built yet.");
  placeholder.show();
  return app.exec();
}
