/* A stand-in for a library of Kelvo's installation: only its version
   resource matters. */
int orvalin_test_library(void) { return 0; }
