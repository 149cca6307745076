// Carries no resources at all; the version reader's tests read it.
int main() { return 0; }
