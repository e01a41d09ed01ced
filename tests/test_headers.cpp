// The program that builds the test programs' precompiled header
// (romsmith_test_headers in cmake/Romsmith.cmake); it has no tests itself.
