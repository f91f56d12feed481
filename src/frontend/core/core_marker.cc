// Keeps the run-core library non-empty while its parts are built.
namespace frontend_core {
int library_marker = 0;
}
