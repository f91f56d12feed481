// Keeps the window library non-empty while its parts are built.
namespace frontend_ui {
int library_marker = 0;
}
