// Compiled with the controller's include path by the layering test, which expects it to
// fail: the controller must not be able to see the toolkit.
#include <gtk/gtk.h>
