// Keeps the examiner library non-empty while its parts are built.
namespace examine {
int library_marker = 0;
}
