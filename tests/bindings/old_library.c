/* A library that reports an older kolvex than the bindings': every binding
 * must refuse it, naming both versions. The collecting functions are there
 * by name only; a binding that checks the version first never calls them. */
const char *kolvex_version(void) { return "1.0.0"; }
int kolvex_collect, kolvex_collect_explained;
