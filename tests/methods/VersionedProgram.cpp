// A program that only carries a version resource for getFileVersion to read.
int main() { return 0; }
