// The Vokari program: the application object runs the whole life of the
// process.
int main() {
    return 0;
}
