// An executable with the file version 2.1.0.7 for the file-version tests.
int main() { return 0; }
