// A loadable module that is not a driver: it lacks the gdi_get export, so
// discovery must pass it over and binding must refuse it.
extern "C" __attribute__((visibility("default"))) int romsmith_not_a_driver(void) { return 1; }
