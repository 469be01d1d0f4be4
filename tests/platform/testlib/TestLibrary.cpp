// A tiny library for the dynamic-library tests.
extern "C" int TestLibraryAnswer() {
    return 42;
}
extern "C" int TestLibraryTwice(int x) {
    return 2 * x;
}
